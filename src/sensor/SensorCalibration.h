#pragma once
// The guided zero-then-span calibration of the "Sensor Calibration" dialog:
// the span gas value remembered per sensor type, the checks and the span gas
// write before a start, the start command, then a poll of the detector on a
// freshly opened link every few seconds until it reports the end, the user
// cancels or the time runs out. The detector calibrates by itself between
// polls. Plain sequential code, like the logging run.
#include <QString>

#include <cstdint>

#include "DeviceSettings.h"
#include "SensorCalView.h"
#include "SensorClock.h"
#include "ZelComms.h"
#include "ZelRecords.h"

namespace caltext {
inline const QString kWrongSensorCaption = QStringLiteral("Wrong Sensor");
inline const QString kWrongSensorText = QStringLiteral("Sensor type is wrong\rDid not sensor calibration");
inline const QString kReadCaption = QStringLiteral("Read Varnolite Information");
inline const QString kNotVarnolite = QStringLiteral("This is not Varnolite module");
inline const QString kCommError =
    QStringLiteral("Varnolite comunication error\rCheck Beamdock and Varnolite unit connection");
inline const QString kDifferentSensor = QStringLiteral("Different sensor type");
inline const QString kConnectCaption = QStringLiteral("Sensor Connection Fail");
inline const QString kConnectText = QStringLiteral("Sensor connection failed\rCheck Varnolite unit and Beamdock");
inline const QString kStartCaption = QStringLiteral("Sensor Calibration Fail");
inline const QString kStartText = QStringLiteral("Sensor calibration failed ... Communication error");
inline const QString kNeverInProgress =
    QStringLiteral("Calibration ... FAIL: the unit took the start but never showed it in progress");
}  // namespace caltext

// How the last calibration ended.
enum class CalOutcome {
    None,          // none tried yet
    NotStarted,    // the checks before the start failed (see PrepareStatus)
    ConnectFailed, // the link would not open for the start command
    ZeroRefused,   // the detector refused the zero calibration
    StartFailed,   // the start command failed otherwise
    Ok,
    Failed,        // the detector reported "Calibration Fail"
    UserStop,
    TimeOut,
    NeverInProgress, // the unit took the start but never showed "Calibration progress"
    ZeroOnly,      // a zero calibration alone, no span
    NotWatched,    // the unit took the start; nobody watched it to its end
};

// A started calibration must show "Calibration progress" within this many
// seconds, or it did not start at all.
constexpr double kCalProgressStartLimit = 10.0;
// How a calibration's end is kept in the history and given as the command
// line's exit status: its result in words and a status byte (0 = passed;
// the detector's or the link's status when it never started).
const char* CalOutcomeText(CalOutcome outcome);
std::uint8_t CalOutcomeStatusByte(CalOutcome outcome, std::uint8_t outcomeStatus);
// The history's status of a step that is no whole calibration (ZeroOnly,
// NotWatched): kept, but not counted as a calibration for the due dates,
// which take only status 0.
constexpr std::uint8_t kCalNotCounted = 1;

// The image offset of mSpanGas: byte 24 of the sensor block, which starts
// at 64. Two bytes; the dead zone lies just before it.
constexpr std::uint16_t kSpanGasAddress = 88;
constexpr std::uint16_t kSpanGasSize = 2;

// "#0.#": at most one decimal, none when it is 0 (100.0 is "100", 2.5 "2.5").
QString SpanGasText(std::uint16_t tenths);

class TSensorCalWorkflow {
public:
    // Everything passed must outlive this object.
    TSensorCalWorkflow(ISensorCalView& view, TComZEL& link, const LoadedSettings& settings, ISensorClock& clock,
                       TSensorCalRequests& requests);

    // ShowDlg up to the showing: false (after the "Wrong Sensor" box) when
    // the unit's sensor type is not in the sensor table, and the window is
    // not to be shown.
    bool ShowDlg(const RZELCFG& cfg);
    // The checks and the span gas write before a calibration; `spanValue` is
    // the spin's value in the gas unit. True when the calibration may start.
    bool PrepareCalibration(double spanValue);
    // A whole calibration; returns when it has ended.
    void CalBtnClick(double spanValue);

    CalOutcome Outcome() const { return FOutcome; }
    // The status byte behind NotStarted, ConnectFailed and StartFailed.
    std::uint8_t OutcomeStatus() const { return FOutcomeStatus; }
    bool Calibrating() const { return FCalib != 0; }
    std::uint16_t DefSpan() const { return FDefSpan; }
    const RZELCFG& Config() const { return FZELCFG; }
    // The entry of the unit's sensor type; nullptr before ShowDlg found one.
    const RSensorType* Sensor() const { return FPSensor; }
    // Seconds a calibration may take.
    int CalTime() const;

private:
    std::uint8_t ReadAndWriteSpan();
    void StartCalibration(bool& running);
    void Poll(bool& running);
    // Seconds to the next poll after one that reached the unit.
    double NextPollAfter(double now) const;
    void Stop(bool& running);
    double NextDeadline(double started) const;
    void ClearLines();
    float ConnectSeconds() const;

    ISensorCalView& FView;
    TComZEL& FLink;
    const LoadedSettings& FSettings;
    ISensorClock& FClock;
    TSensorCalRequests& FRequests;

    RZELCFG FZELCFG{};
    // 0 idle, 1 running, 2 user stop asked, 3 time-out.
    std::uint8_t FCalib = 0;
    std::uint8_t FSensorType = 0;
    const RSensorType* FPSensor = nullptr;
    std::uint16_t FDefSpan = 0;

    CalOutcome FOutcome = CalOutcome::None;
    std::uint8_t FOutcomeStatus = 0;
    double FNextPoll = 0;
    double FStarted = 0;
    bool FProgressSeen = false;
    long FShownProgress = -1;
};
