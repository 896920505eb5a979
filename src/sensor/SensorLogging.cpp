#include "SensorLogging.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "BlockAttempts.h"
#include "CommError.h"
#include "DataLogCsv.h"
#include "ProgramDirectory.h"
#include "SensorTypes.h"

namespace {

constexpr std::uint8_t kStatusOK = 0;
constexpr double kOneDay = 86400.0;
// While a calibration is watched the detector is read every second, so its
// progress flag is seen as soon as it changes.
constexpr double kWatchInterval = 1.0;
// A span command the detector took must show "Calibration progress" within
// this many seconds, or the calibration is called off.
constexpr double kProgressStartLimit = 10.0;
// Time-outs are "more than" a number of seconds: wake just after it.
constexpr double kJustAfter = 0.001;

namespace cmd {
constexpr std::uint8_t kZero = 0x40;
constexpr std::uint8_t kSpan = 0x41;
constexpr std::uint8_t kZeroSpan = 0x42;
constexpr std::uint8_t kClearCal = 0x43;
constexpr std::uint8_t kClearPeak = 0x44;
constexpr std::uint8_t kBumpFail = 0x45;
constexpr std::uint8_t kBumpPass = 0x46;
}  // namespace cmd

struct RButtonCommand {
    LogButton button;
    std::uint8_t command;
    const char* label;  // CalLabel text before the result
};

constexpr std::array<RButtonCommand, 7> kButtonCommands{{
    {LogButton::Cal, cmd::kZeroSpan, "Zero/Span CAL."},
    {LogButton::Zero, cmd::kZero, "Zero CAL."},
    {LogButton::Span, cmd::kSpan, "Span CAL."},
    {LogButton::CalAbort, cmd::kClearCal, "Clear CAL."},
    {LogButton::ClearPeak, cmd::kClearPeak, "Clear Peak"},
    {LogButton::BumpFail, cmd::kBumpFail, "Send Bump Fail"},
    {LogButton::BumpPass, cmd::kBumpPass, "Send Bump Pass"},
}};

const RButtonCommand* CommandOf(LogButton button)
{
    for (const RButtonCommand& entry : kButtonCommands)
        if (entry.button == button)
            return &entry;
    return nullptr;
}

QString LabelOf(std::uint8_t command)
{
    for (const RButtonCommand& entry : kButtonCommands)
        if (entry.command == command)
            return QString::fromLatin1(entry.label);
    return QString();
}

}  // namespace

QString logtext::DataLogFailure(const QString& path, int lostRecords)
{
    if (lostRecords <= 0)
        return QString();
    const QString records = lostRecords == 1 ? QStringLiteral(" record lost") : QStringLiteral(" records lost");
    return QStringLiteral("Data log file error ... ") + QString::number(lostRecords) + records +
           QStringLiteral("\r") + path;
}

bool IsAdapterFailure(std::uint8_t status)
{
    return (status >= 1 && status <= 6) || status == 8 || status == 9 || status == zelstatus::kChannelError ||
           status >= 252;
}

TSensorLogWorkflow::TSensorLogWorkflow(ISensorLogView& view, TComZEL& link, const LoadedSettings& settings,
                                       ISensorClock& clock, TSensorLogRequests& requests)
    : FView(view),
      FLink(link),
      FSettings(settings),
      FClock(clock),
      FRequests(requests),
      FAxis(settings.cfg.mLogDisplayTime)
{
}

float TSensorLogWorkflow::ConnectSeconds() const
{
    return static_cast<float>(FSettings.cfg.mConnectTime) / 1000.0f;
}

void TSensorLogWorkflow::SetCalLabel(const QString& text, RColour colour)
{
    FCalColour = colour;
    FView.SetCalLabel(text, colour);
}

void TSensorLogWorkflow::StartBtnClick()
{
    FRequests.SetLogStart(true);
    FView.SetRunning(true);
    FView.SetCalButtons(true, true);
    FView.SetCalProgressMax(FSettings.cfg.mCalTime);
    FView.SetCalProgress(0);
    SetCalLabel(QString(), FCalColour);
    FView.ShowDataLogFailure(QString(), 0);
    FLogFile.clear();
    FLogFileOk = false;
    FLostRecords = 0;
    FIdentity = RZELIdenty{};

    // However the run ends (an exception from the link included), the
    // window gets its buttons back and may be closed again.
    struct RIdleAtEnd {
        TSensorLogWorkflow* run;
        ~RIdleAtEnd() { run->ShowIdle(); }
    } idleAtEnd{this};

    RZELIdenty identity{};
    RZELUnitCFG unit{};
    const std::optional<std::uint8_t> status = ReadUnitInformation(identity, unit);
    FEndStatus = status.value_or(zelstatus::kChannelError);
    if (!status)
        return;
    if (*status != kStatusOK) {
        FView.ShowMessage(BoxIcon::Error, logtext::kUnitInfoCaption, logtext::kUnitInfoText);
        return;
    }
    FIdentity = identity;
    FLogFile = ChooseLogFile(identity, unit);
    const int sensor = FindSensorType(FSettings.sensors, identity.mSensor);
    FValueTitle = sensor < 0 ? QStringLiteral("Gas")
                             : QString::fromStdString(FSettings.sensors[static_cast<std::size_t>(sensor)].mName + " (" +
                                                      FSettings.sensors[static_cast<std::size_t>(sensor)].mUnit + ")");
    LoggingLoop();
}

void TSensorLogWorkflow::ShowIdle()
{
    FRequests.SetLogStart(false);
    FView.SetRunning(false);
    FView.SetCalButtons(false, false);
    FView.SetCalProgress(0);
    SetCalLabel(QString(), FCalColour);
}

std::optional<std::uint8_t> TSensorLogWorkflow::ReadUnitInformation(RZELIdenty& identity, RZELUnitCFG& unit)
{
    std::uint8_t status = kStatusOK;
    try {
        status = FLink.OpenUSB(ConnectSeconds());
    } catch (const ECommError& error) {
        // The port itself would not open: the system's own reason says more
        // than any status text.
        FLink.ComClose();
        FView.ShowMessage(BoxIcon::Error, logtext::kUnitInfoCaption, QString::fromStdString(error.UserMessage()));
        return std::nullopt;
    }
    if (status == kStatusOK)
        status = FLink.RequireIdenty(identity);
    if (status == kStatusOK)
        status = CheckProduct(identity.mPID, zel::kVarnoliteModel, FSettings.factoryMode);
    const RDeviceCFG& cfg = FSettings.cfg;
    if (status == kStatusOK)
        status = WithAttempts([&] { return FLink.ReadUnitCFGData(unit, cfg.mUnitPacketSize, cfg.mUnitDataSize); });
    FLink.CloseUSB(status);
    return status;
}

QString TSensorLogWorkflow::ChooseLogFile(const RZELIdenty& identity, const RZELUnitCFG& unit)
{
    const RFileRequest request{logtext::kSaveTitle, logtext::kSaveFilter, logtext::kSaveSuffix,
                               QString::fromStdString(FSettings.cfg.mLogSaveDir),
                               DataLogFileName(identity, FClock.LocalTime())};
    const std::optional<QString> chosen = FView.AskSaveFile(request);
    if (!chosen || chosen->trimmed().isEmpty())
        return QString();
    SetLogSaveDir(FolderOf(chosen->toStdString()));
    // A header that could not be written leaves no file of this run: the
    // records are not added to whatever file of that name was there before.
    FLogFileOk = WriteDataLogHeader(*chosen, unit);
    return *chosen;
}

void TSensorLogWorkflow::LoggingLoop()
{
    const RDeviceCFG& cfg = FSettings.cfg;
    FHistory.Clear();
    FAxis.Reset();
    FView.ShowChart({FAxis.Min(), FAxis.Max(), FAxis.Increment(), {}, FValueTitle});

    const double start = FClock.Seconds();
    FNextPoll = start - kOneDay;
    FNextReading = start - kOneDay;
    FRunStart = start;
    FWatch = CalWatchState::Idle;
    FInterval = cfg.mLogInterval;
    FHaveBattery = false;
    FHaveTemperature = false;

    try {
        FStatus = FLink.OpenUSB(ConnectSeconds());
    } catch (const ECommError&) {
        FLink.ComClose();
        FStatus = zelstatus::kChannelError;
    }
    FLinked = FStatus == kStatusOK;
    FAnswering = true;  // the unit information was just read
    NoteAnswering();

    while (FRequests.LogStart()) {
        if (IsAdapterFailure(FStatus)) {
            FEndStatus = FStatus;
            FRequests.Stop();
            FView.ShowMessage(BoxIcon::Error, logtext::kBeamdockCaption, logtext::kBeamdockText);
            break;
        }
        if (const RButtonCommand* pressed = CommandOf(FRequests.TakeButton()))
            RunSensorCommand(pressed->command);
        AdvanceCalWatch();
        const double now = FClock.Seconds();
        // A detector that is away is woken at the poll period, not back to
        // back: each wake-up holds the loop for the whole connect time.
        if (now >= FNextPoll || (FLinked && now >= FNextReading)) {
            // The next pass follows at once: it looks at what the exchange
            // brought (a status to stop on, the flags a watch waits for).
            PollStep(now);
            continue;
        }
        FClock.WaitUntil(NextDeadline(), FRequests.Wakeup());
    }
    // A run that ends while the unit does not answer did not log what was
    // asked of it: its end says why.
    if (FEndStatus == kStatusOK && !FLinked && FStatus != kStatusOK)
        FEndStatus = FStatus;
    // The unit goes on calibrating by itself; how it ends is not known here.
    if (FWatch != CalWatchState::Finished && FWatch != CalWatchState::Idle)
        TellCalibration(FWatchLabel, CalOutcome::NotWatched);
    FLink.CloseUSB(FStatus);
}

void TSensorLogWorkflow::NoteAnswering()
{
    if (FLinked == FAnswering)
        return;
    FAnswering = FLinked;
    FView.ShowUnitAnswering(FLinked, FStatus);
}

void TSensorLogWorkflow::PollStep(double now)
{
    if (FLinked) {
        if (now >= FNextReading) {
            FStatus = ReadSensors();
            if (FStatus == kStatusOK)
                ShowReading(now - FRunStart);
            // Counted from the end of the read, whether it worked or not.
            FNextReading = FClock.Seconds() + FInterval;
        } else {
            FStatus = FLink.ConnectZELCheck();
        }
        if (FStatus != kStatusOK)
            FLinked = false;
    } else {
        FStatus = FLink.ConnectZEL(ConnectSeconds());
        if (FStatus == kStatusOK)
            FLinked = true;
    }
    NoteAnswering();
    FNextPoll = FClock.Seconds() + FSettings.cfg.mLogConnectTime / 1000.0;
}

std::uint8_t TSensorLogWorkflow::ReadSensors()
{
    std::uint8_t status = FLink.RequireSensor(FGas, sensormode::kGas);
    if (status == kStatusOK && FRequests.BatteryWanted()) {
        status = FLink.RequireSensor(FBattery, sensormode::kBattery);
        FHaveBattery = FHaveBattery || status == kStatusOK;
    }
    if (status == kStatusOK && FRequests.TemperatureWanted()) {
        status = FLink.RequireSensor(FTemperature, sensormode::kTemperature);
        FHaveTemperature = FHaveTemperature || status == kStatusOK;
    }
    return status;
}

void TSensorLogWorkflow::ShowReading(double elapsed)
{
    const RGasReading gas = DecodeGas(FGas);
    RReadingDisplay shown;
    shown.time = FClock.LocalTime();
    shown.elapsed = elapsed;
    shown.sensorValue = gas.valueText;
    shown.sensorPeak = gas.peakText;
    if (FHaveBattery) {
        const RSupplyReading battery = DecodeSupply(FBattery);
        shown.batteryValue = battery.valueText;
        shown.batteryAdc = battery.adcText;
    }
    if (FHaveTemperature) {
        const RSupplyReading temperature = DecodeSupply(FTemperature);
        shown.temperatureValue = temperature.valueText;
        shown.temperatureAdc = temperature.adcText;
    }
    shown.history = FGas.mHistory;
    shown.alarm = FGas.mAlarm;
    FView.ShowReading(shown);

    FHistory.Add(elapsed, static_cast<float>(gas.value));
    FAxis.Follow(elapsed);
    FView.ShowChart({FAxis.Min(), FAxis.Max(), FAxis.Increment(), FHistory.PointsSince(FAxis.Min()), FValueTitle});

    if (!FLogFile.trimmed().isEmpty())
        AppendLogLine(DataLogRecord(shown));
}

void TSensorLogWorkflow::AppendLogLine(const QByteArray& line)
{
    if (FLogFileOk && AppendDataLogLine(FLogFile, line))
        return;
    ++FLostRecords;
    FView.ShowDataLogFailure(FLogFile, FLostRecords);
}

void TSensorLogWorkflow::RunSensorCommand(std::uint8_t command)
{
    const QString label = LabelOf(command);
    SetCalLabel(QString(), FCalColour);
    std::uint8_t r = FLink.ConnectZELCheck();
    if (r != kStatusOK)
        r = FLink.ConnectZEL(ConnectSeconds());
    if (r == kStatusOK)
        r = FLink.SensorCalibration(command);

    const bool calibrates = command == cmd::kZero || command == cmd::kSpan || command == cmd::kZeroSpan;
    if (r != kStatusOK) {
        QString outcome = QStringLiteral(" ... Communication Error");
        if (r == zelstatus::kNak)
            outcome = QStringLiteral(" ... Negative");
        else if (r == zelstatus::kOtherStatus)
            outcome = command == cmd::kZeroSpan ? QStringLiteral(" ... Zero Cal. FAIL") : QStringLiteral(" ... FAIL");
        SetCalLabel(label + outcome, colours::kMaroon);
        if (calibrates) {
            const bool zeroRefused = r == zelstatus::kOtherStatus && command != cmd::kSpan;
            TellCalibration(label, zeroRefused ? CalOutcome::ZeroRefused : CalOutcome::StartFailed, r);
        }
        return;
    }
    switch (command) {
    case cmd::kSpan:
    case cmd::kZeroSpan:
        FView.SetCalButtons(false, true);
        FView.SetCalProgress(0);
        FView.SetCalProgLabel(QStringLiteral("(0)"));
        SetCalLabel(label + QStringLiteral(" ... START"), colours::kBlack);
        FWatch = CalWatchState::Started;
        FWatchLabel = label;
        FPhaseStart = FClock.Seconds();
        break;
    case cmd::kZero:
    case cmd::kClearCal:
        // A zero calibration is quick and not watched; either command ends a
        // watch that is running.
        SetCalLabel(label + QStringLiteral(" ... OK"), colours::kBlack);
        if (FWatch != CalWatchState::Idle)
            FinishWatch(CalOutcome::UserStop);
        if (command == cmd::kZero)
            TellCalibration(label, CalOutcome::ZeroOnly);
        break;
    default:
        SetCalLabel(label + QStringLiteral(" ... OK"), colours::kBlack);
        break;
    }
}

void TSensorLogWorkflow::TellCalibration(const QString& label, CalOutcome outcome, std::uint8_t status)
{
    if (FCalibrationEnded)
        FCalibrationEnded(label, outcome, status);
}

void TSensorLogWorkflow::FinishWatch(CalOutcome outcome)
{
    if (FWatch == CalWatchState::Finished || FWatch == CalWatchState::Idle)
        return;
    FWatch = CalWatchState::Finished;
    TellCalibration(FWatchLabel, outcome);
    FInterval = FSettings.cfg.mLogInterval;
    FView.SetCalButtons(true, true);
}

void TSensorLogWorkflow::AdvanceCalWatch()
{
    const double now = FClock.Seconds();
    const bool inProgress = (FGas.mHistory & historybit::kCalibrationProgress) != 0;
    switch (FWatch) {
    case CalWatchState::Started:
        FInterval = kWatchInterval;
        FNextReading = now - kOneDay;
        FWatch = CalWatchState::WaitProgress;
        break;
    case CalWatchState::WaitProgress:
        if (inProgress) {
            SetCalLabel(QStringLiteral("Span Calibration...."), FCalColour);
            FPhaseStart = now;
            FShownProgress = -1;
            FWatch = CalWatchState::InProgress;
        } else if (now - FPhaseStart > kProgressStartLimit) {
            FinishWatch(CalOutcome::NeverInProgress);
            RunSensorCommand(cmd::kClearCal);
            SetCalLabel(QStringLiteral("Calibration Abort ... Timeout"), colours::kMaroon);
        }
        break;
    case CalWatchState::InProgress: {
        const double elapsed = now - FPhaseStart;
        const long position = std::lround(elapsed);
        if (position != FShownProgress) {
            FShownProgress = position;
            FView.SetCalProgress(static_cast<int>(position));
            FView.SetCalProgLabel(QStringLiteral("(") + QString::number(position) + QStringLiteral(")"));
        }
        if (inProgress) {
            if (elapsed > FSettings.cfg.mCalTime) {
                FinishWatch(CalOutcome::TimeOut);
                RunSensorCommand(cmd::kClearCal);
                SetCalLabel(QStringLiteral("Calibration FAIL ... Timeout"), colours::kMaroon);
            }
        } else if (FGas.mHistory & historybit::kCalibrationFail) {
            SetCalLabel(QStringLiteral("Calibration ... FAIL"), colours::kMaroon);
            FinishWatch(CalOutcome::Failed);
        } else {
            SetCalLabel(QStringLiteral("Calibration ... OK"), colours::kBlack);
            FinishWatch(CalOutcome::Ok);
        }
        break;
    }
    case CalWatchState::Idle:
    case CalWatchState::Finished:
        break;
    }
}

double TSensorLogWorkflow::NextDeadline() const
{
    double deadline = FLinked ? std::min(FNextPoll, FNextReading) : FNextPoll;
    if (FWatch == CalWatchState::WaitProgress)
        deadline = std::min(deadline, FPhaseStart + kProgressStartLimit + kJustAfter);
    if (FWatch == CalWatchState::InProgress) {
        deadline = std::min(deadline, FPhaseStart + FSettings.cfg.mCalTime + kJustAfter);
        // The progress position moves on when the rounded time does.
        deadline = std::min(deadline, FPhaseStart + static_cast<double>(FShownProgress) + 0.5 + kJustAfter);
    }
    return deadline;
}
