#include "EventLogWorkflow.h"

#include <QDir>
#include <QFileInfo>

#include "EventLogCsv.h"
#include "ProgramDirectory.h"
#include "WholeFile.h"

namespace {

const QString kNoEventsCaption = QStringLiteral("Log Event");
const QString kNoEventsText = QStringLiteral("No logging event data...");
const QString kSaveTitle = QStringLiteral("Save Logging Data...");
const QString kSaveFilter = QStringLiteral("Data file|*.csv");
const QString kSaveSuffix = QStringLiteral("csv");
const QString kSaveFailedCaption = QStringLiteral("Save Event Log");
const QString kSaveFailedText = QStringLiteral("Event logging file did not save\rRetry SAVE EVENT LOG");

std::string FolderWithSlash(const QString& path)
{
    return FolderOf(QFileInfo(path).absoluteFilePath().toStdString());
}

}  // namespace

TEventLogWorkflow::TEventLogWorkflow(TMainWorkflows& main, Clock clock)
    : FMain(main), FClock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); }))
{
}

std::uint8_t TEventLogWorkflow::LoadEventLog(RComZELReadBuf& log, RZELIdenty& identity)
{
    std::uint8_t status = FMain.ReadDevice();
    // A second identify for the freshest life count: the events are dated
    // against it.
    if (status == zelstatus::kOK)
        status = FMain.Identify(identity);
    if (status == zelstatus::kOK)
        status = FMain.Link().LoadLog(log, FMain.Settings().cfg.mEVENTReadPacketSize);
    if (status == zelstatus::kOK)
        FMain.Recorder().EventsDownloaded(eventlog::CollectEvents(log, FMain.Settings().cfg.mEVENTPacketSize),
                                          identity.mLife);
    return status;
}

void TEventLogWorkflow::UserLogSaveBtnClick()
{
    FMain.ForgetHibernateAnswer();
    if (!FMain.ConfirmDiscardEdits(opname::kLoadEventLog))
        return;
    FLastSaved.reset();
    const TDeviceButtonsOff busy(FMain.View());
    RComZELReadBuf log;
    RZELIdenty identity{};
    const auto status = FMain.RunCycle(opname::kLoadEventLog, true, [&] { return LoadEventLog(log, identity); });
    if (!status)
        return;
    FMain.ShowResult(*status, opname::kLoadEventLog, true);
    if (*status != zelstatus::kOK)
        return;
    RZELCFG cfg = FMain.CurrentConfig();
    cfg.mUnit.mLifeRemaining = identity.mLife;
    FMain.SetCurrentConfig(cfg);
    SaveEventLog(log);
    if (const std::uint32_t leftOut = FMain.Link().LogBytesLeftOut(); leftOut > 0)
        FMain.View().ShowMessage(BoxIcon::Information, kNoEventsCaption, LogLeftOutText(leftOut));
}

QString TEventLogWorkflow::LogLeftOutText(std::uint32_t leftOut)
{
    return QStringLiteral("The unit's event log was longer than the %1 bytes the program can hold: the records "
                          "that fit were saved, %2 bytes of the log were left out.")
        .arg(RComZELReadBuf::kCapacity)
        .arg(leftOut);
}

void TEventLogWorkflow::SaveEventLog(const RComZELReadBuf& log)
{
    FLastSaved.reset();
    // Before any dialog: the events are dated against the moment the log
    // was read, not the moment the user found a folder.
    const QDateTime reference = FClock();
    const RDeviceCFG& cfg = FMain.Settings().cfg;
    std::vector<RZELEvent> events = eventlog::CollectEvents(log, cfg.mEVENTPacketSize);
    if (events.empty()) {
        FMain.View().ShowMessage(BoxIcon::Information, kNoEventsCaption, kNoEventsText);
        return;
    }
    eventlog::SortOldestFirst(events);

    const RZELUnitCFG& unit = FMain.CurrentConfig().mUnit;
    const RFileRequest request{kSaveTitle, kSaveFilter, kSaveSuffix, QString::fromStdString(cfg.mEVENTSaveDir),
                               eventlog::ProposedFileName(unit, reference)};
    const std::optional<QString> path = FMain.View().AskSaveFile(request);
    if (!path)
        return;
    // Whole or not at all: a reader takes a file that is there for a
    // complete log, so a write that fails half-way must leave nothing.
    if (WriteFileWhole(*path, eventlog::EventLogCsv(events, unit, reference)))
        FLastSaved = *path;
    else
        FMain.View().ShowMessage(BoxIcon::Error, kSaveFailedCaption, kSaveFailedText);
    // The folder is remembered even when the write failed: the user chose it.
    SetEventSaveDir(FolderWithSlash(*path));
}

bool TEventLogWorkflow::KeepEventLog(const RComZELReadBuf& log, QString& refusal)
{
    const QDateTime reference = FClock();
    const RDeviceCFG& cfg = FMain.Settings().cfg;
    std::vector<RZELEvent> events = eventlog::CollectEvents(log, cfg.mEVENTPacketSize);
    if (events.empty())
        return true;  // nothing that the reset could lose
    eventlog::SortOldestFirst(events);
    const RZELUnitCFG& unit = FMain.CurrentConfig().mUnit;
    const QString path = QDir(QString::fromStdString(cfg.mEVENTSaveDir))
                             .filePath(eventlog::ProposedFileName(unit, reference));
    if (!WriteFileWhole(path, eventlog::EventLogCsv(events, unit, reference))) {
        refusal = QStringLiteral("The event log could not be saved to %1.\rIt was not cleared.").arg(path);
        return false;
    }
    FLastSaved = path;
    return true;
}

void TEventLogWorkflow::UserLogResetBtnClick()
{
    FMain.ForgetHibernateAnswer();
    FLastSaved.reset();
    // The copy is made from a fresh read of the unit, which replaces the
    // values shown.
    if (!FMain.ConfirmDiscardEdits(opname::kEventLogReset))
        return;
    if (!FMain.View().AskYesNoDefaultNo(opname::kEventLogReset,
                                        QStringLiteral("Save and then clear the event log of %1?")
                                            .arg(FMain.ShownUnitName())))
        return;
    const TDeviceButtonsOff busy(FMain.View());
    QString refusal;
    const auto status = FMain.RunCycle(opname::kEventLogReset, true, [&] {
        // The log is cleared only once a copy of it is kept: a download or
        // a copy that fails stops the reset.
        RComZELReadBuf log;
        RZELIdenty identity{};
        std::uint8_t s = LoadEventLog(log, identity);
        if (s == zelstatus::kOK) {
            RZELCFG cfg = FMain.CurrentConfig();
            cfg.mUnit.mLifeRemaining = identity.mLife;
            FMain.SetCurrentConfig(cfg);
            if (!KeepEventLog(log, refusal))
                s = zelstatus::kSizeRefused;
        }
        if (s == zelstatus::kOK)
            s = FMain.Link().LogReset();
        return s;
    });
    if (status)
        FMain.ShowResult(*status, opname::kEventLogReset, true, refusal);
}
