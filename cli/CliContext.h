#pragma once
#include <QStringList>

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "DeviceSettings.h"
#include "ZelComms.h"

// What every command of the command line gets: the options common to all of
// them, the settings of the program directory and the one protocol object.
struct CliContext {
    QStringList args;          // the command's own arguments, after its name
    bool trace = false;
    bool json = false;
    std::string port;          // preferred serial device, empty = discovery
    std::string programDir;    // with a trailing '/'
    bool factoryMode = false;
    RDeviceCFG settings;
    std::vector<RSensorType> sensors;
    TComZEL* link = nullptr;
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    // The frames of this run, kept for Comm.TXT when LogEnable=1.
    std::shared_ptr<QStringList> commLog;
    QString historyDb;         // --db URL; empty = BEAMDOCK_DB or the station file
    bool noHistory = false;    // --no-history
};

// Reports an operation's end the way the window does in its status line and
// message box, on standard error; returns the status as exit code.
int ReportStatus(CliContext& ctx, const std::string& operation, std::uint8_t status);

// Runs OpenUSB, `work` while the link is up, CloseUSB; errors of opening the
// port become a plain message.
template <typename Work>
std::uint8_t RunOperation(CliContext& ctx, Work&& work);

bool TakeFlag(QStringList& args, const QString& flag);
bool TakeValue(QStringList& args, const QString& option, QString& value);

// Exit codes that are not status bytes of the detector.
inline constexpr int kUsageError = 2;
inline constexpr int kFileFailed = 3;
inline constexpr int kRefused = 4;

void InstallCliTrace(CliContext& ctx);
// After a command run under TStopAfterStep: `code`, or 134 with a line on
// standard error when the user pressed Ctrl-C.
int StoppedAfterStep(CliContext& ctx, int code);

int CmdAdapters(CliContext& ctx);
int CmdCfgShow(CliContext& ctx);
int CmdSettings(CliContext& ctx);
int CmdWrite(CliContext& ctx);
int CmdHibernate(CliContext& ctx);
int CmdIdentify(CliContext& ctx);
int CmdRead(CliContext& ctx);
int CmdTest(CliContext& ctx);
int CmdEeprom(CliContext& ctx);
int CmdEventLog(CliContext& ctx);
int CmdLogReset(CliContext& ctx);
int CmdImage(CliContext& ctx);
int CmdUpgrade(CliContext& ctx);
int CmdLog(CliContext& ctx);
int CmdCalibrate(CliContext& ctx);
int CmdDoctor(CliContext& ctx);
int CmdBatch(CliContext& ctx);
int CmdHistory(CliContext& ctx);
int CmdBump(CliContext& ctx);
int CmdHistoryCertificate(CliContext& ctx);
int CmdHistoryVerifyCertificate(CliContext& ctx);
int CmdHistoryReport(CliContext& ctx);
// "Calibration due ..., bump test due ..., status" from the unit's timers,
// read now.
void PrintDueDates(std::ostream& out, const RZELCFG& cfg);
// The commands that reach a unit, whose operations the history keeps.
bool CommandRecordsHistory(const QString& command);

#include "CliOperation.inl"
