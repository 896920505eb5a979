#pragma once
// The main window's logic: the current configuration, the operation cycle
// that every device button runs, the result reporter, reading and writing the
// configuration, hibernation and the configuration files. It reaches the user
// only through IMainView and the detector only through TComZEL, and runs as
// plain sequential code: the window runs it on its link thread, the tests and
// the command line tool call it directly.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "DeviceSettings.h"
#include "FormValues.h"
#include "MainView.h"
#include "OperationRecorder.h"
#include "UnitLine.h"
#include "ZelComms.h"
#include "ZelRecords.h"

// Operation names: the status line shows them followed by "..." while the
// operation runs, and the result after them; message boxes use them as caption.
namespace opname {
inline const QString kReadDevice = QStringLiteral("Read Varnolite Information");
inline const QString kWriteDevice = QStringLiteral("Write Varnolite Information");
inline const QString kHibernate = QStringLiteral("Hibernate");
inline const QString kReadSensor = QStringLiteral("Read sensor information");
}  // namespace opname

// Every button that holds the link is off for the whole operation, so that a
// second click cannot start another exchange on the same port.
class TDeviceButtonsOff {
public:
    explicit TDeviceButtonsOff(IMainView& view) : FView(view) { FView.SetDeviceButtonsEnabled(false); }
    ~TDeviceButtonsOff() { FView.SetDeviceButtonsEnabled(true); }
    TDeviceButtonsOff(const TDeviceButtonsOff&) = delete;
    TDeviceButtonsOff& operator=(const TDeviceButtonsOff&) = delete;

private:
    IMainView& FView;
};

class TMainWorkflows {
public:
    // The view, the link and the settings must outlive this object.
    TMainWorkflows(IMainView& view, TComZEL& link, const LoadedSettings& settings);

    // Start-up steps that touch the window (after LoadSettings): the sensor
    // lists, the EEPROM grid, a first ShowConfig of the default configuration
    // and the trace memo; installs the trace handler when tracing is on.
    void FormCreate();
    // First activation only: layout, saved geometry, clock. Later calls do
    // nothing.
    void FormActivate();
    // Close: the trace to "Comm.TXT" (when tracing is on) and the geometry to
    // the settings file.
    void FormCloseQuery();

    // Button handlers (both layouts share them).
    void UserReadDeviceBtnClick();
    void UserWriteDeviceBtnClick();
    void UserOptHibernateBtnClick();
    void UserCalBtnClick();
    // "Log Readings" on the factory page.
    void FatoryOptLogSensorBtnClick();
    void UserReadFileBtnClick();
    void UserWriteFileBtnClick();

    // Main-window services used by every workflow.
    void ShowStatus(RColour background, RColour font, const QString& text);
    // `message`, when given, replaces the status table's box text (for a
    // refusal of the tool's own that the table has no words for).
    void ShowResult(std::uint8_t status, const QString& operation, bool showBox, const QString& message = QString());
    void CommTrace(const QDateTime& now, const QString& log);

    // Steps run inside an operation cycle; each returns a status byte.
    std::uint8_t ReadDevice();
    std::uint8_t WriteDevice();

    void ShowConfig();
    RZELCFG CollectConfig(bool forDevice);

    // The operation cycle, shared with the window's other workflows (event
    // log, firmware, factory and test pages, sensor tools).
    // Status line "name..." (when `showStart`), OpenUSB, `work` while the
    // status is 0, CloseUSB. Returns the status reached, which the caller
    // reports; nothing when the port could not be opened at all (already
    // shown to the user).
    std::optional<std::uint8_t> RunCycle(const QString& name, bool showStart,
                                         const std::function<std::uint8_t()>& work);
    // OpenUSB with the configured connect time. A port that cannot be opened
    // raises ECommError; that is shown here and reported as nullopt.
    std::optional<std::uint8_t> OpenLink(const QString& name);
    // RequireIdenty, then the model check; remembers the identity.
    std::uint8_t Identify(RZELIdenty& identity);
    // Every operation but "Hibernate" itself and the TEST page makes the next
    // "Hibernate" ask again.
    void ForgetHibernateAnswer() { FHibernateBtn = false; }

    // Where every operation cycle is recorded; the process recorder unless
    // one is set here (tests hand in one that collects).
    void SetRecorder(IOperationRecorder* recorder) { FRecorder = recorder; }
    IOperationRecorder& Recorder() const { return FRecorder ? *FRecorder : ProcessRecorder(); }

    IMainView& View() { return FView; }
    TComZEL& Link() { return FLink; }
    const LoadedSettings& Settings() const { return FSettings; }

    const RZELCFG& CurrentConfig() const { return FZELCFG; }
    void SetCurrentConfig(const RZELCFG& cfg) { FZELCFG = cfg; }
    std::uint8_t ReadSW() const { return FReadSW; }
    bool HibernateConfirmed() const { return FHibernateBtn; }
    // The status byte of the last ShowResult since ResetLastResult (161 when
    // the port would not open); nothing when the operation stopped before
    // reporting one (a refusal box, a "No"). For callers that need the
    // outcome as a value, such as the command line tool's exit status.
    std::optional<std::uint8_t> LastResult() const { return FLastResult; }
    // The identity the unit last answered with (zero before any).
    const RZELIdenty& LastIdentity() const { return FLastIdentity; }
    void ResetLastResult() { FLastResult.reset(); }

    // What the unit held after the last Write Device, read back in the same
    // connection: the "as left" image. Nothing when the write ended before
    // the read-back.
    const std::optional<RZELCFG>& AsLeftImage() const { return FAsLeft; }
    // Asked before each write range: true ends the write after the range
    // being written (the command line's Ctrl-C), with status 134.
    void SetStopRequest(std::function<bool()> stopRequested) { FStopRequested = std::move(stopRequested); }
    // The configuration block that failed its CRC at the last read ("unit" or
    // "sensor"); empty when both were sound.
    const QString& DamagedBlock() const { return FDamagedBlock; }
    // Which unit the window shows and what was edited since (WriteSafety.cpp).
    const TUnitLine& UnitLine() const { return FUnitLine; }
    // Fields that a read would replace without their having reached a unit:
    // the edits, and the values of a file loaded since.
    int EditedFields();
    // Before values are replaced: "Discard the edits to N fields?" while
    // there are any (default No). True to go on.
    bool ConfirmDiscardEdits(const QString& caption);
    // "unit SH10000123" for the unit last read, else "the unit in front of
    // the adapter": what the questions before destructive steps name.
    QString ShownUnitName() const;
    // The refusal of set points no unit should get, shown in a box; true
    // when refused.
    bool RefuseAlarmSetPoints(const RZELCFG& cfg, const QString& caption, const QString& consequence);
    // The outcome of a read of the unit for the unit line (ReadDevice calls
    // it; a read that could not even start counts as failed).
    void NoteRead(std::uint8_t status);

private:
    // One range of the configuration image, 0-based.
    struct WrittenRange {
        std::uint16_t address;
        std::uint16_t size;
        const char* key;
    };
    // Reads both blocks back and compares the written ranges with `image`.
    std::uint8_t VerifyWrittenRanges(const RComZELReadBuf& image);
    bool StopRequested() const { return FStopRequested && FStopRequested(); }
    // Ends a write the user stopped between ranges.
    std::uint8_t StopWrite();
    // The box text of a failed write: why it failed, what reached the unit.
    QString WriteFailureText(std::uint8_t status) const;
    // Before a write: forgets how the last one ended; in factory mode over a
    // block that failed its CRC, asks the question naming it.
    bool BeginWrite();
    void TellFieldsNotInFile(const std::vector<std::string>& notHeld);
    void TellSettingsFileNotice();
    QString NoSensorText(std::uint8_t readCode) const;
    const RSensorType* SensorOfCurrentConfig() const;
    // Records what a write left in the unit (see the definition).
    template <typename Ranges>
    void RecordSentImage(const RZELIdenty& identity, const RComZELReadBuf& image, Ranges&& ranges);
    // Unit line bookkeeping and the question before a write to another unit.
    void NoteLoadedFile(const QString& path);
    void NoteWritten();
    void PublishUnitLine();
    std::uint8_t CheckWriteTarget(const RZELIdenty& identity);
    // What the connection doctor finds about the configured port, for the
    // details of an adapter error box.
    QString DoctorFindings() const;

    IMainView& FView;
    TComZEL& FLink;
    const LoadedSettings& FSettings;

    bool FFirst = true;
    RZELCFG FZELCFG;
    bool FHibernateBtn = false;
    std::uint8_t FReadSW = 0;
    std::optional<std::uint8_t> FLastResult;
    QString FWriteRefusal;  // why WriteDevice refused its ranges, for the box
    std::vector<WrittenRange> FWritten;  // ranges the unit acknowledged, in order
    std::optional<RZELCFG> FAsLeft;
    std::function<bool()> FStopRequested;
    QString FDamagedBlock;
    RZELIdenty FLastIdentity{};
    IOperationRecorder* FRecorder = nullptr;
    std::optional<RZELCFG> FLastRead;  // the configuration last read from a unit
    TUnitLine FUnitLine;
    QString FUnitSerial;        // the identity's serial at the last read or write; empty: none
    bool FWriteStopped = false;  // WriteDevice stopped before writing: declined, or nothing differs
};

// Trace line of the memo: time stamp "hh:nn:ss:zzz", a blank, the text.
QString TraceLine(const QDateTime& now, const QString& log);
// Status line clock "yy-mm-dd hh:nn:ss".
QString ClockText(const QDateTime& now);
// Writes the memo lines to `path` with CR LF line ends, replacing the file.
bool WriteTraceFile(const std::string& path, const QStringList& lines);
