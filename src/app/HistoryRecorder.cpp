#include "HistoryRecorder.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>

#include <cstring>

#include <pwd.h>
#include <unistd.h>

#include "StatusTexts.h"

namespace {

QString OsUser()
{
    for (const char* name : {"USER", "LOGNAME", "USERNAME"})
        if (const QString user = qEnvironmentVariable(name); !user.isEmpty())
            return user;
    const passwd* entry = getpwuid(geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

}  // namespace

TProcessRecording::TProcessRecording(const QString& option, std::function<void(const QString&)> notice,
                                     RecordedHandler recorded)
{
    QString error;
    const std::optional<RHistoryLocation> location = ChooseHistoryLocation(option, error);
    if (!location) {
        if (notice)
            notice(QStringLiteral("The history will not be kept: %1").arg(error));
        return;
    }
    FRecorder = std::make_unique<THistoryRecorder>(*location, std::move(notice), QString(), std::move(recorded));
    SetProcessRecorder(FRecorder.get());
}

TProcessRecording::~TProcessRecording()
{
    SetProcessRecorder(nullptr);
}

THistoryRecorder::THistoryRecorder(RHistoryLocation location, Notice notice, QString spoolPath,
                                   RecordedHandler recorded)
    : FLocation(std::move(location)),
      FSpoolPath(std::move(spoolPath)),
      FNotice(std::move(notice)),
      FRecorded(std::move(recorded))
{
    FWorker = std::thread([this] { Run(); });
}

THistoryRecorder::~THistoryRecorder()
{
    {
        std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    FWorker.join();
}

namespace {

ROperationStart OperationStart(const QString& workflow)
{
    ROperationStart start;
    start.uuid = QUuid::createUuid();
    start.workflow = workflow;
    start.startedMs = QDateTime::currentMSecsSinceEpoch();
    start.station = QSysInfo::machineHostName();
    start.osUser = OsUser();
    start.toolVersion = QStringLiteral(BEAMDOCK_VERSION);
    return start;
}

// The status line's suffix ("... OK") without its dots, or the box text.
QString StatusSaid(std::uint8_t status)
{
    const StatusText& text = StatusTextFor(status);
    QString said = QString::fromStdString(text.message.empty() ? text.suffix : MessageLines(text.message));
    while (said.startsWith(QLatin1Char('.')) || said.startsWith(QLatin1Char(' ')))
        said.remove(0, 1);
    return said;
}

}  // namespace

void THistoryRecorder::BeginOperation(const QString& workflow)
{
    ROperationStart start = OperationStart(workflow);
    FCurrent = ROperationEnd{};
    FCurrent->uuid = start.uuid;
    Hand(std::move(start));
}

void THistoryRecorder::CalibrationAside(const QString& workflow, const RZELIdenty& identity,
                                        const RCalibrationRecord& calibration, std::uint8_t status)
{
    ROperationStart start = OperationStart(workflow);
    ROperationEnd end;
    end.uuid = start.uuid;
    if (identity.mSerial[0] != '\0')
        end.unit = UnitRecord(identity);
    end.calibration = calibration;
    end.status = status;
    end.statusText = status == 0 ? calibration.result : StatusSaid(status);
    end.endedMs = QDateTime::currentMSecsSinceEpoch();
    Hand(std::move(start));
    Hand(std::move(end));
}

void THistoryRecorder::StepReached(const QString& step)
{
    if (FCurrent)
        FCurrent->step = step;
}

void THistoryRecorder::UnitIdentified(const RZELIdenty& identity)
{
    if (!FCurrent)
        return;
    const QString userId = FCurrent->unit ? FCurrent->unit->userId : QString();
    FCurrent->unit = UnitRecord(identity);
    FCurrent->unit->userId = userId;
}

void THistoryRecorder::ConfigImageTaken(const QString& role, const RZELCFG& cfg)
{
    if (!FCurrent)
        return;
    FCurrent->images.push_back(ImageRecord(role, cfg));
    // The identity does not carry the user ID; the unit block does.
    if (!FCurrent->unit) {
        FCurrent->unit = RUnitIdentity{};
        FCurrent->unit->serial = FixedField(cfg.mUnit.mSerial, sizeof cfg.mUnit.mSerial);
        FCurrent->unit->sensorType = cfg.mSensor.mSensorType;
        FCurrent->unit->fwVersion = cfg.mUnit.mFWVersion;
        FCurrent->unit->hwVersion = cfg.mUnit.mHWVersion;
    }
    FCurrent->unit->userId = FixedField(cfg.mUnit.mUserID, sizeof cfg.mUnit.mUserID);
}

void THistoryRecorder::ConfigFileUsed(const QString& path, const RZELCFG& cfg)
{
    if (!FCurrent)
        return;
    FCurrent->images.push_back(ImageRecord(recordrole::kFile, cfg));
    FCurrent->images.back().filePath = path;
}

void THistoryRecorder::EventsDownloaded(const std::vector<RZELEvent>& events, std::uint32_t lifeRemaining)
{
    if (FCurrent)
        FCurrent->events = REventDownload{EventRecords(events), lifeRemaining, QDateTime::currentMSecsSinceEpoch()};
}

void THistoryRecorder::FirmwareSent(const RFirmwareRecord& firmware)
{
    if (FCurrent)
        FCurrent->firmware = firmware;
}

void THistoryRecorder::CalibrationDone(const RCalibrationRecord& calibration)
{
    if (FCurrent)
        FCurrent->calibration = calibration;
}

QUuid THistoryRecorder::OperationUuid() const
{
    return FCurrent ? FCurrent->uuid : QUuid();
}

void THistoryRecorder::TestRecorded(const RTestRecord& record)
{
    if (FCurrent)
        FCurrent->test = record;
}

void THistoryRecorder::EndOperation(std::uint8_t status)
{
    if (!FCurrent)
        return;
    FCurrent->endedMs = QDateTime::currentMSecsSinceEpoch();
    FCurrent->status = status;
    FCurrent->statusText = StatusSaid(status);
    Hand(std::move(*FCurrent));
    FCurrent.reset();
}

void THistoryRecorder::Hand(RHistoryEntry entry)
{
    {
        std::lock_guard lock(FMutex);
        FQueue.push_back(std::move(entry));
    }
    FWake.notify_one();
}

void THistoryRecorder::WaitIdle()
{
    std::unique_lock lock(FMutex);
    FIdle.wait(lock, [this] { return FQueue.empty() && !FBusy; });
}

void THistoryRecorder::Tell(const QString& text)
{
    if (FNotice)
        FNotice(text);
}

void THistoryRecorder::Run()
{
    THistorySink sink(FLocation, FSpoolPath);
    {
        std::lock_guard lock(FMutex);
        FBusy = true;
    }
    // Start-up: what an earlier session left in the spool goes first.
    if (FLocation.engine == HistoryEngine::Postgres) {
        const RSyncResult synced = sink.Sync();
        FWaiting = synced.waiting;
        if (FRecorded)
            FRecorded({FWaiting.load(), QString(), std::nullopt});
    }
    for (;;) {
        std::unique_lock lock(FMutex);
        FBusy = false;
        FIdle.notify_all();
        FWake.wait(lock, [this] { return FStop || !FQueue.empty(); });
        if (FQueue.empty())
            return;
        RHistoryEntry entry = std::move(FQueue.front());
        FQueue.pop_front();
        FBusy = true;
        lock.unlock();

        const RSinkResult result = sink.Put(entry);
        if (!result.kept && !FToldFailure) {
            FToldFailure = true;
            Tell(QStringLiteral("The history record of this operation could not be kept (the operation itself was "
                                "not affected): %1")
                     .arg(result.problem));
        } else if (result.spooled && !FToldSpool) {
            FToldSpool = true;
            Tell(QStringLiteral("The site history database cannot be reached; records are kept on this station and "
                                "sent when it can be reached again. %1")
                     .arg(result.problem));
        }
        if (FLocation.engine == HistoryEngine::Postgres)
            FWaiting = sink.Waiting();
        Report(sink, entry);
    }
}

void THistoryRecorder::Report(THistorySink& sink, const RHistoryEntry& entry)
{
    if (!FRecorded)
        return;
    RRecordedState state;
    state.waiting = FWaiting.load();
    if (const auto* end = std::get_if<ROperationEnd>(&entry); end && end->unit && !end->unit->serial.isEmpty()) {
        state.serial = end->unit->serial;
        state.service = sink.LatestService(state.serial);
    }
    FRecorded(state);
}
