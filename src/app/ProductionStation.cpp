#include "ProductionStation.h"

#include <QDir>
#include <QElapsedTimer>

#include "CommError.h"
#include "ConfigFile.h"
#include "EventLogWorkflow.h"
#include "LinkThread.h"
#include "MainView.h"
#include "MainWorkflows.h"
#include "OperationRecorder.h"
#include "StatusTexts.h"
#include "ConfigMapping.h"

namespace {

QString SerialOf(const RZELIdenty& identity)
{
    return FixedText(identity.mSerial, sizeof identity.mSerial);
}

// Saving an event log also remembers its folder in the process's settings
// and the settings file; the stations take turns at that moment only.
std::mutex gSaveFolderLock;

}  // namespace

// The station's stand-in for the window: the form is kept in memory, each
// question gets the answer a production line needs without a person, and
// the last error box is kept as the unit's failure text.
class TProductionView final : public IMainView {
public:
    explicit TProductionView(QString saveLogDir) : FSaveLogDir(std::move(saveLogDir)) {}

    void PaintStatus(RColour, RColour, const QString&) override {}
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override
    {
        if (icon == BoxIcon::Error)
            FError = caption + QStringLiteral(": ") + QString(text).replace(QLatin1Char('\r'), QLatin1Char(' '));
    }
    // Only the questions of a step the operator chose when starting the line
    // are answered Yes (clearing the log); any other (writing over a block
    // that failed its CRC, say) is No, and the unit is left as it was found,
    // for a person to look at.
    bool AskYesNo(const QString& caption, const QString& text) override
    {
        if (FAllowed.contains(caption))
            return true;
        FError = caption + QStringLiteral(": ") + QString(text).replace(QLatin1Char('\r'), QLatin1Char(' '));
        return false;
    }
    void AllowQuestionsOf(const QStringList& captions) { FAllowed = captions; }
    std::optional<QString> AskOpenFile(const RFileRequest&) override { return std::nullopt; }
    // The event log goes into the chosen folder under the name the window
    // proposes (serial number and time).
    std::optional<QString> AskSaveFile(const RFileRequest& request) override
    {
        if (FSaveLogDir.isEmpty())
            return std::nullopt;
        FSaveLock = std::unique_lock(gSaveFolderLock);
        return QDir(FSaveLogDir).filePath(request.fileName);
    }
    // After the save: the folder is remembered.
    void SaveEnded() { FSaveLock = {}; }
    void SetFormValues(const RFormValues& values) override { FForm = values; }
    RFormValues FormValues() override { return FForm; }
    void SetLifeSpins(int months, int days) override
    {
        FForm.opt.lifeMonths = months;
        FForm.opt.lifeDays = days;
    }
    void SetModelName(const QString&) override {}
    void RefillSerialEdit(const QString&) override {}
    void SetDeviceButtonsEnabled(bool) override {}
    void AppendTrace(const QString&) override {}
    QStringList TraceLines() override { return {}; }
    void SetTraceVisible(bool) override {}
    void SetSensorNames(const QStringList&) override {}
    void PrepareEepromGrid(const QStringList&) override {}
    void ApplyLayout(bool) override {}
    void SetWindowGeometry(const WindowGeometry&) override {}
    WindowGeometry CurrentWindowGeometry() override { return {}; }
    void StartClock() override {}

    void ForgetError() { FError.clear(); }
    const QString& Error() const { return FError; }

private:
    QString FSaveLogDir;
    QStringList FAllowed;
    std::unique_lock<std::mutex> FSaveLock;
    RFormValues FForm;
    QString FError;
};

TProductionStation::TProductionStation(int index, std::string port, const RProductionPlan& plan,
                                       const LoadedSettings& settings, IProductionReport& report)
    : FIndex(index), FPort(std::move(port)), FPlan(plan), FSettings(settings), FReport(report)
{
    FSettings.factoryMode = plan.factoryMode;
    // Log Reset keeps its copy of the log in the event folder: the line's
    // folder, when one was chosen.
    if (!plan.saveLogDir.isEmpty())
        FSettings.cfg.mEVENTSaveDir = QDir(plan.saveLogDir).absolutePath().toStdString() + "/";
}

TProductionStation::~TProductionStation()
{
    Stop();
    // The thread's destructor waits for the loop to end.
    FThread.reset();
}

void TProductionStation::Start()
{
    FThread = std::make_unique<TLinkThread>();
    FThread->Link().SetDefPort(FPort);
    FThread->Run([this] { Loop(); });
}

void TProductionStation::Stop()
{
    {
        std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
}

bool TProductionStation::Ended() const
{
    std::lock_guard lock(FMutex);
    return FEnded;
}

void TProductionStation::Pause()
{
    std::unique_lock lock(FMutex);
    FWake.wait_for(lock, FPlan.pollInterval, [this] { return FStop; });
}

QString TProductionStation::UnitInFront(TMainWorkflows& workflows)
{
    // A look, not an operation: the history keeps the units' provisioning,
    // not every glance at an empty adapter.
    TComZEL& link = workflows.Link();
    RZELIdenty identity{};
    std::uint8_t status = zelstatus::kOK;
    try {
        status = link.OpenUSB(static_cast<float>(FSettings.cfg.mConnectTime) / 1000.0f);
    } catch (const ECommError&) {
        link.ComClose();
        return QString();
    }
    if (status == zelstatus::kOK)
        status = link.RequireIdenty(identity);
    link.CloseUSB(status);
    return status == zelstatus::kOK ? SerialOf(identity) : QString();
}

void TProductionStation::Loop()
{
    ServeUnits();
    {
        std::lock_guard lock(FMutex);
        FEnded = true;
    }
    FReport.StationEnded(FIndex);
}

void TProductionStation::ServeUnits()
{
    TProductionView view(FPlan.saveLogDir);
    TMainWorkflows workflows(view, FThread->Link(), FSettings);
    // Ends with this function: the history has all of this station's
    // records before its end is reported.
    const std::unique_ptr<IOperationRecorder> recorder = FPlan.makeRecorder ? FPlan.makeRecorder() : nullptr;
    workflows.SetRecorder(recorder ? recorder.get() : &NullRecorder());
    QString lastSerial;
    bool waitingShown = false;
    for (;;) {
        {
            std::lock_guard lock(FMutex);
            if (FStop)
                break;
        }
        const QString serial = UnitInFront(workflows);
        // The unit just done stays in front until it is taken away; a unit
        // that does not answer is no unit at all.
        if (serial.isEmpty() || serial == lastSerial) {
            if (!waitingShown)
                FReport.StepStarted(FIndex, QString(), prodstep::kWaiting, 0);
            waitingShown = true;
            Pause();
            continue;
        }
        waitingShown = false;
        RUnitOutcome outcome = Provision(workflows, view, serial);
        lastSerial = serial;
        FReport.UnitEnded(outcome);
        if (FPlan.once)
            break;
    }
}

RUnitOutcome TProductionStation::Provision(TMainWorkflows& workflows, TProductionView& view, const QString& serial)
{
    QElapsedTimer clock;
    clock.start();
    RUnitOutcome outcome;
    outcome.station = FIndex;
    outcome.port = QString::fromStdString(FPort);
    outcome.serial = serial;
    // Each step runs its own operation cycle, exactly as its button does;
    // the first failure ends the unit with that step's status.
    const auto failed = [&](const QString& step, std::optional<std::uint8_t> status) {
        outcome.step = step;
        outcome.status = status.value_or(zelstatus::kChannelError);
        outcome.statusText = !view.Error().isEmpty()
                                 ? view.Error()
                                 : QString::fromStdString(StatusTextFor(outcome.status).message);
        outcome.elapsedMs = clock.elapsed();
        return outcome;
    };
    const auto begin = [&](const QString& step, int percent) {
        FReport.StepStarted(FIndex, serial, step, percent);
        view.ForgetError();
        workflows.ResetLastResult();
    };

    begin(prodstep::kRead, 5);
    const auto read = workflows.RunCycle(opname::kReadDevice, false, [&] { return workflows.ReadDevice(); });
    if (!read || *read != zelstatus::kOK)
        return failed(prodstep::kRead, read);

    if (!FPlan.saveLogDir.isEmpty()) {
        begin(prodstep::kSaveLog, 20);
        TEventLogWorkflow eventLog(workflows);
        eventLog.UserLogSaveBtnClick();
        view.SaveEnded();
        if (workflows.LastResult().value_or(zelstatus::kOK) != zelstatus::kOK || !view.Error().isEmpty())
            return failed(prodstep::kSaveLog, workflows.LastResult());
        outcome.logFile = eventLog.LastSavedFile().value_or(QString());
    }

    begin(prodstep::kWrite, 40);
    // The template's settings over what the unit holds, as "Read
    // Configuration File" puts them into the form; the unit keeps its own
    // serial number, which is how the line tells one unit from the next.
    RZELCFG merged = MergeContributedFields(workflows.CurrentConfig(), FPlan.templateConfig);
    std::copy(std::begin(workflows.CurrentConfig().mUnit.mSerial), std::end(workflows.CurrentConfig().mUnit.mSerial),
              std::begin(merged.mUnit.mSerial));
    workflows.SetCurrentConfig(merged);
    workflows.ShowConfig();
    workflows.UserWriteDeviceBtnClick();
    if (workflows.LastResult() != std::optional<std::uint8_t>(zelstatus::kOK))
        return failed(prodstep::kWrite, workflows.LastResult());

    if (FPlan.clearLog && FPlan.factoryMode) {
        begin(prodstep::kClearLog, 85);
        TEventLogWorkflow eventLog(workflows);
        view.AllowQuestionsOf({opname::kEventLogReset});
        eventLog.UserLogResetBtnClick();
        view.AllowQuestionsOf({});
        if (workflows.LastResult() != std::optional<std::uint8_t>(zelstatus::kOK))
            return failed(prodstep::kClearLog, workflows.LastResult());
    }
    FReport.StepStarted(FIndex, serial, prodstep::kDone, 100);
    outcome.passed = true;
    outcome.step = prodstep::kDone;
    outcome.statusText = QStringLiteral("OK");
    outcome.elapsedMs = clock.elapsed();
    return outcome;
}
