#pragma once
// The logging run of the "Sensor Reading Data Logging" dialog: it reads the
// unit's information once, asks for the data log file, then keeps the link
// open and takes a reading every interval, checks the link in between,
// wakes the detector again when it stops answering, sends the calibration
// group's commands and watches a span calibration to its end. Plain
// sequential code: the window runs it on its link thread, the command line
// and the tests call it directly.
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

#include "DeviceSettings.h"
#include "ReadingHistory.h"
#include "SensorCalibration.h"
#include "SensorClock.h"
#include "SensorLogRequests.h"
#include "SensorLogView.h"
#include "ZelComms.h"
#include "ZelRecords.h"

// How far a span calibration started from the dialog has come.
enum class CalWatchState : std::uint8_t {
    Idle = 0,          // none started in this run
    Started = 1,       // the detector took a span or zero+span command
    WaitProgress = 2,  // waiting for it to raise "Calibration progress"
    InProgress = 3,    // it reports a running calibration
    Finished = 4,      // it ended; buttons and interval are back
};

// Texts the run shows; captions and messages of its boxes.
namespace logtext {
inline const QString kUnitInfoCaption = QStringLiteral("Varnolite Unit Information Error");
inline const QString kUnitInfoText =
    QStringLiteral("Do not read Varnolite unit configuration data\rCheck Varnolite and Beamdock connection");
inline const QString kBeamdockCaption = QStringLiteral("Beamdock Error");
inline const QString kBeamdockText =
    QStringLiteral("Beamdock Error\rCheck Beamdock connection\rData logging stopped");
inline const QString kSaveTitle = QStringLiteral("Save Logging Data...");
inline const QString kSaveFilter = QStringLiteral("Data file|*.csv");
inline const QString kSaveSuffix = QStringLiteral("csv");
// The notice of records that could not be added to the data log; empty for
// none.
QString DataLogFailure(const QString& path, int lostRecords);
}  // namespace logtext

// Statuses that mean the adapter itself failed or went away (the bridge
// library's codes, a channel error, discovery): the run cannot go on. Every
// other failure is the detector's and is waited out.
bool IsAdapterFailure(std::uint8_t status);

class TSensorLogWorkflow {
public:
    // Everything passed must outlive this object. The save folder chosen is
    // remembered in the process-wide settings (SetLogSaveDir).
    TSensorLogWorkflow(ISensorLogView& view, TComZEL& link, const LoadedSettings& settings, ISensorClock& clock,
                       TSensorLogRequests& requests);

    // StartBtnClick: the whole run. Returns when logging has stopped (Stop,
    // an adapter failure, or the unit could not be read at the start).
    void StartBtnClick();

    CalWatchState WatchState() const { return FWatch; }
    // Records that could not be added to the data log in the last run.
    int LostRecords() const { return FLostRecords; }
    // The data log of the last run; empty when none was chosen.
    const QString& LogFile() const { return FLogFile; }
    // Why the last run ended: 0 for Stop, the status of the unit read that
    // failed (161 when the port would not open), the adapter failure, or the
    // link status when it ended while the unit did not answer.
    std::uint8_t EndStatus() const { return FEndStatus; }
    // The unit of the last run; zeros when it did not answer.
    const RZELIdenty& Identity() const { return FIdentity; }

    // Told, on the run's thread, how each calibration command of the run
    // ended: a zero taken or refused, a span or zero and span watched to its
    // end, stopped, or left running when the run stopped. `label` is the
    // button's ("Zero/Span CAL."); `status` the link's or detector's behind
    // a start that failed.
    using CalibrationEnded = std::function<void(const QString& label, CalOutcome outcome, std::uint8_t status)>;
    void OnCalibrationEnded(CalibrationEnded handler) { FCalibrationEnded = std::move(handler); }

private:
    std::optional<std::uint8_t> ReadUnitInformation(RZELIdenty& identity, RZELUnitCFG& unit);
    QString ChooseLogFile(const RZELIdenty& identity, const RZELUnitCFG& unit);
    void LoggingLoop();
    void PollStep(double now);
    // Tells the view when the unit stops or starts answering.
    void NoteAnswering();
    std::uint8_t ReadSensors();
    void RunSensorCommand(std::uint8_t command);
    void AdvanceCalWatch();
    void FinishWatch(CalOutcome outcome);
    void TellCalibration(const QString& label, CalOutcome outcome, std::uint8_t status = 0);
    void ShowReading(double elapsed);
    void AppendLogLine(const QByteArray& line);
    double NextDeadline() const;
    void SetCalLabel(const QString& text, RColour colour);
    void ShowIdle();
    float ConnectSeconds() const;

    ISensorLogView& FView;
    TComZEL& FLink;
    const LoadedSettings& FSettings;
    ISensorClock& FClock;
    TSensorLogRequests& FRequests;

    // The three readings: gas, battery, temperature. A failed request leaves
    // a record as it was, so each holds its last good reading.
    RZELSensor FGas{};
    RZELSensor FBattery{};
    RZELSensor FTemperature{};
    bool FHaveBattery = false;
    bool FHaveTemperature = false;

    TReadingHistory FHistory;
    TChartAxis FAxis;

    RZELIdenty FIdentity{};
    QString FLogFile;
    bool FLogFileOk = false;
    int FLostRecords = 0;

    double FRunStart = 0;
    double FNextReading = 0;
    double FNextPoll = 0;
    double FInterval = 1;
    double FPhaseStart = 0;
    std::uint8_t FStatus = 0;
    std::uint8_t FEndStatus = 0;
    bool FAnswering = true;  // as last told to the view
    QString FValueTitle;     // the chart's left axis
    bool FLinked = false;
    CalWatchState FWatch = CalWatchState::Idle;
    long FShownProgress = -1;
    RColour FCalColour = colours::kBlack;
    QString FWatchLabel;  // the button whose calibration is watched
    CalibrationEnded FCalibrationEnded;
};
