#pragma once
// "Save Event Log" and "Log Reset": download the unit's event log and write
// it as a CSV file, or clear it on the unit. Sequential code on top of the
// main window's services (the operation cycle, ReadDevice, the identity with
// its model check, the result reporter), run on the link thread.
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

#include "MainWorkflows.h"
#include "ZelRecords.h"

namespace opname {
inline const QString kLoadEventLog = QStringLiteral("Load Event Log");
inline const QString kEventLogReset = QStringLiteral("Event Log Reset");
}  // namespace opname

class TEventLogWorkflow {
public:
    // The local time now; tests set it so that event dates can be checked
    // exactly.
    using Clock = std::function<QDateTime()>;

    // `main` must outlive this object. Folder memory (EVENT/SaveDirectory)
    // goes through the process-wide settings, which `main` is expected to
    // show.
    explicit TEventLogWorkflow(TMainWorkflows& main, Clock clock = {});

    void UserLogSaveBtnClick();
    void UserLogResetBtnClick();

    // Writes the downloaded log to a file the user picks. The unit block of
    // the current configuration provides the header and the life remaining
    // the events are dated against.
    void SaveEventLog(const RComZELReadBuf& log);

    // The file the last SaveEventLog wrote; nothing when it wrote none.
    const std::optional<QString>& LastSavedFile() const { return FLastSaved; }

    // What the user is told when the unit's log did not fit.
    static QString LogLeftOutText(std::uint32_t leftOut);

private:
    std::uint8_t LoadEventLog(RComZELReadBuf& log, RZELIdenty& identity);
    // The copy of a downloaded log kept before the unit's log is cleared:
    // a CSV file in the event folder, named as Save Event Log proposes. A
    // history store can take its place. False, with the reason, when the
    // copy could not be kept.
    bool KeepEventLog(const RComZELReadBuf& log, QString& refusal);

    TMainWorkflows& FMain;
    Clock FClock;
    std::optional<QString> FLastSaved;
};
