// beamdock-cli: the detector operations of the window, for scripts and
// terminals. Every command runs the same open / commands / close cycle.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <map>
#include <cstring>
#include <memory>
#include <optional>

#include "CliContext.h"
#include "HistoryRecorder.h"
#include "MainWorkflows.h"
#include "ProfileFile.h"
#include "ProgramDirectory.h"
#include "StartUp.h"

namespace {

struct Command {
    int (*run)(CliContext&);
    const char* synopsis;
    const char* summary;
    // Only looks: creates no file or folder, and needs the program folder
    // to exist already ("read" looks only without --save).
    bool readOnly = false;
};

const std::map<QString, Command>& Commands()
{
    static const std::map<QString, Command> commands = {
        {"adapters", {CmdAdapters, "adapters", "the CP210x bridges discovery sees, and the port it would use", true}},
        {"identify", {CmdIdentify, "identify", "model, versions, sensor, life and serial of the unit", true}},
        {"read", {CmdRead, "read [--json] [--save FILE]", "the unit's configuration; --save writes it as a .cfg file"}},
        {"cfg", {CmdCfgShow, "cfg show FILE [--json]", "a configuration file's contents", true}},
        {"write", {CmdWrite, "write --file FILE [--repair]", "take a file's fields and write them to the unit;\n                                 or --set FIELD=VALUE ... to change fields (write --help lists them)"}},
        {"hibernate", {CmdHibernate, "hibernate [--yes]", "put the unit into hibernation (asks first)"}},
        {"settings", {CmdSettings, "settings [--json]", "the effective settings, mode and sensor table", true}},
        {"test", {CmdTest, "test OUTPUT|COMMAND", "factory mode: beep, rled, lled, vibrator, clear-peak, bump-pass,\n                                 bump-fail, factory-reset, power-down (ask first; --yes),\n                                 calibrate-now"}},
        {"eeprom", {CmdEeprom, "eeprom [--out FILE] [--json]", "factory mode: the EEPROM dump; a hex view, or the CSV file"}},
        {"eventlog", {CmdEventLog, "eventlog [--out FILE]", "download the event log as CSV (default: the proposed name in the event folder)"}},
        {"logreset", {CmdLogReset, "logreset [--yes]", "save the unit's event log as CSV, then clear it (asks first)"}},
        {"image", {CmdImage, "image check FILE [--json]", "a firmware image's checks and header", true}},
        {"upgrade", {CmdUpgrade, "upgrade FILE [--yes]", "check the image and the unit, then send it (Ctrl-C cancels)"}},
        {"log", {CmdLog, "log [--seconds N] [--interval S] [--out FILE]", "\n                                 live readings, one line each; --out writes the data log;\n                                 Ctrl-C stops"}},
        {"calibrate", {CmdCalibrate, "calibrate [--span VALUE] [--yes]", "\n                                 guided zero then span calibration; Ctrl-C cancels"}},
        {"batch", {CmdBatch, "batch --template FILE.cfg [--port P]... [--all] [--save-log DIR] [--once]", "\n                                 write a template to unit after unit on several adapters"}},
        {"doctor", {CmdDoctor, "doctor", "what stands between the tool and the detector, with fixes", true}},
        {"bump", {CmdBump, "bump --gas VALUE [--lot L --expiry YYYY-MM-DD] [--technician NAME]", "\n                                 [--time-limit S] [--yes] [--certificate FILE.pdf]: guided bump test;\n                                 exit 0 passed, 1 failed, 134 cancelled"}},
        {"history", {CmdHistory, "history units|unit|events|sync|verify|certificate|verify-certificate|report", "\n                                 the history database (--db URL, BEAMDOCK_DB)", true}},
    };
    return commands;
}

// Options that take a value, the command's own and the common ones: one
// without its value is named rather than left to look like a stray argument.
const char* const kValueOptions[] = {"--port", "--dir", "--file", "--set", "--save", "--out",
                                     "--seconds", "--interval", "--span", "--gas", "--lot", "--expiry",
                                     "--technician", "--time-limit", "--certificate", "--due-within", "--since",
                                     "--tolerance", "--template", "--save-log"};

bool IsOptionName(const QString& arg)
{
    static const char* const kFlags[] = {"--json", "--trace", "--yes", "--help", "--version"};
    const auto is = [&arg](const char* name) { return arg == QLatin1String(name); };
    return std::any_of(std::begin(kValueOptions), std::end(kValueOptions), is) ||
           std::any_of(std::begin(kFlags), std::end(kFlags), is);
}

std::optional<QString> OptionMissingItsValue(const QStringList& args)
{
    for (int i = 0; i < args.size(); ++i) {
        for (const char* option : kValueOptions) {
            if (args.at(i) != QLatin1String(option))
                continue;
            const bool next = i + 1 < args.size();
            if (!next || IsOptionName(args.at(i + 1)))
                return args.at(i);
        }
    }
    return std::nullopt;
}

bool ReadOnlyRun(const Command& command, const QStringList& args)
{
    if (&command == &Commands().at(QStringLiteral("read")))
        return !args.contains(QStringLiteral("--save"));
    return command.readOnly;
}

// With LogEnable=1 in the settings the frames are kept, as the window keeps
// them in its trace memo, and written to Comm.TXT in the program folder at
// the end; --trace shows them on standard error as they pass.
void WriteCommLog(const CliContext& ctx)
{
    if (ctx.commLog && !ctx.commLog->isEmpty())
        WriteTraceFile(ctx.programDir + "Comm.TXT", *ctx.commLog);
}

void Usage(std::ostream& out)
{
    out << "usage: beamdock-cli [--port PATH] [--trace] [--dir DIR] COMMAND [options]\n"
           "       beamdock-cli --version\n\n"
           "  --port PATH   serial device of the Beamdock (skips adapter discovery);\n"
           "                else BEAMDOCK_PORT, else Port in section Environment of LUMBRA.INI\n"
           "  --trace       every frame sent and received, on standard error\n"
           "  --dir DIR     run as if DIR were the program directory (where LUMBRA.INI\n"
           "                and the save folders live; else BEAMDOCK_DIR, else the\n"
           "                current directory)\n"
           "  --db URL      the history database (else BEAMDOCK_DB, else the station file)\n"
           "  --no-history  leave this operation out of the history\n\n"
           "commands:\n";
    for (const auto& [name, command] : Commands())
        out << "  " << std::left << std::setw(31) << command.synopsis << command.summary << "\n";
    out << "\nThe exit status is the operation's status byte (0 = success).\n";
}

// "--help" anywhere: the general usage before a command, the command's own
// usage after it; both on standard output with status 0. -1 when no help
// was asked for.
int HelpRequested(const QStringList& args)
{
    const auto isHelp = [](const QString& a) { return a == QLatin1String("--help") || a == QLatin1String("-h"); };
    const auto help = std::find_if(args.begin(), args.end(), isHelp);
    if (help == args.end())
        return -1;
    const auto named = std::find_if(args.begin(), args.end(), [](const QString& a) { return Commands().count(a); });
    if (named == args.end() || help < named) {
        Usage(std::cout);
        return 0;
    }
    // write lists its fields itself, those of the mode the settings give.
    if (*named == QLatin1String("write"))
        return -1;
    const Command& command = Commands().at(*named);
    std::cout << "usage: beamdock-cli [--port PATH] [--trace] [--dir DIR] " << command.synopsis << "\n  "
              << command.summary << "\n";
    return 0;
}

}  // namespace

void InstallCliTrace(CliContext& ctx)
{
    if (!ctx.trace && !ctx.commLog) {
        ctx.link->SetOnZELEvent(nullptr);
        return;
    }
    const bool echo = ctx.trace;
    QStringList* kept = ctx.commLog.get();
    ctx.link->SetOnZELEvent([echo, kept](TComZEL*, const QDateTime& now, const QString& log) {
        const QString line = TraceLine(now, log);
        if (echo)
            std::cerr << line.toStdString() << "\n";
        if (kept)
            kept->append(line);
    });
}

bool NeedsPrinting(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char* name : {"bump", "certificate", "report", "--certificate"})
            if (std::strcmp(argv[i], name) == 0)
                return true;
    return false;
}

int main(int argc, char** argv)
{
    // Certificates and reports need fonts, which come with a GUI application
    // object; one without a display uses the offscreen platform.
    const bool printing = NeedsPrinting(argc, argv);
    if (printing && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application =
        printing ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QStringList args = app.arguments().mid(1);
    CliContext ctx;
    ctx.out = &std::cout;
    ctx.err = &std::cerr;

    if (TakeFlag(args, "--version")) {
        std::cout << "beamdock-cli " << BEAMDOCK_VERSION << "\n";
        return 0;
    }
    if (args.isEmpty()) {
        Usage(std::cerr);
        return 2;
    }
    if (const int help = HelpRequested(args); help >= 0)
        return help;
    if (const auto option = OptionMissingItsValue(args)) {
        std::cerr << "beamdock-cli: option " << option->toStdString() << " needs a value\n";
        return 2;
    }
    QString portOption;
    const bool hasPortOption = TakeValue(args, "--port", portOption);
    QString dirOption;
    QStringList dirArguments;  // in the form the window's start-up reads
    if (TakeValue(args, "--dir", dirOption))
        dirArguments << QString() << QStringLiteral("--dir") << dirOption;
    ctx.trace = TakeFlag(args, "--trace");
    ctx.json = TakeFlag(args, "--json");
    TakeValue(args, "--db", ctx.historyDb);
    ctx.noHistory = TakeFlag(args, "--no-history");

    if (args.isEmpty()) {
        Usage(std::cerr);
        return 2;
    }
    const QString name = args.takeFirst();
    const auto found = Commands().find(name);
    if (found == Commands().end()) {
        std::cerr << "beamdock-cli: unknown command '" << name.toStdString() << "'\n";
        Usage(std::cerr);
        return 2;
    }
    ctx.args = args;

    // The command line starts as the window does: the settings of the
    // program directory, with its folders created and keys written back;
    // a command that only looks reads them and leaves the disk as it was.
    const bool readOnly = ReadOnlyRun(found->second, args);
    const std::string programDir =
        ChooseProgramDirectory(dirArguments, qEnvironmentVariable(startup::kDirVariable));
    if (!QFileInfo(QString::fromStdString(programDir)).isDir()) {
        if (readOnly) {
            std::cerr << "beamdock-cli: the program folder " << programDir << " does not exist\n";
            return 2;
        }
        QDir().mkpath(QString::fromStdString(programDir));
    }
    if (const auto notice = ProfileFileNotice(SettingsFilePath(programDir)))
        std::cerr << "beamdock-cli: " << *notice << "\n";
    SetCurrentSettings(LoadSettings(programDir, readOnly ? SettingsAccess::ReadOnly : SettingsAccess::Write));
    const LoadedSettings& loaded = CurrentSettings();
    ctx.programDir = loaded.programDir;
    ctx.factoryMode = loaded.factoryMode;
    ctx.settings = loaded.cfg;
    ctx.sensors = loaded.sensors;
    ctx.port = hasPortOption ? portOption.toStdString()
                             : qEnvironmentVariableIsSet("BEAMDOCK_PORT") ? qEnvironmentVariable("BEAMDOCK_PORT").toStdString()
                                                                          : loaded.port;

    std::optional<TProcessRecording> recording;
    if (!ctx.noHistory && CommandRecordsHistory(name))
        recording.emplace(ctx.historyDb, [](const QString& text) { std::cerr << "beamdock-cli: " << text.toStdString() << "\n"; });

    TComZEL link;
    ctx.link = &link;
    link.SetDefPort(ctx.port);
    if (ctx.settings.mLogEnable)
        ctx.commLog = std::make_shared<QStringList>();
    InstallCliTrace(ctx);
    const int status = found->second.run(ctx);
    ctx.link = nullptr;  // the link object ends here, the context later
    WriteCommLog(ctx);
    return status;
}
