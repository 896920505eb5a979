// beamdock-cli: the detector operations of the window, for scripts and
// terminals. Every command runs the same open / commands / close cycle.
#include <QCoreApplication>
#include <QDir>

#include <iomanip>
#include <iostream>
#include <map>

#include "CliContext.h"
#include "ProgramDirectory.h"
#include "StartUp.h"

namespace {

struct Command {
    int (*run)(CliContext&);
    const char* synopsis;
    const char* summary;
};

const std::map<QString, Command>& Commands()
{
    static const std::map<QString, Command> commands = {
        {"adapters", {CmdAdapters, "adapters", "the CP210x bridges discovery sees, and the port it would use"}},
        {"identify", {CmdIdentify, "identify", "model, versions, sensor, life and serial of the unit"}},
        {"read", {CmdRead, "read [--json] [--save FILE]", "the unit's configuration; --save writes it as a .cfg file"}},
        {"cfg", {CmdCfgShow, "cfg show FILE [--json]", "a configuration file's contents"}},
        {"write", {CmdWrite, "write --file FILE", "take a file's fields and write them to the unit;\n                                 or --set FIELD=VALUE ... to change fields (write --help lists them)"}},
        {"hibernate", {CmdHibernate, "hibernate [--yes]", "put the unit into hibernation (asks first)"}},
        {"settings", {CmdSettings, "settings [--json]", "the effective settings, mode and sensor table"}},
        {"test", {CmdTest, "test OUTPUT|COMMAND", "factory mode: beep, rled, lled, vibrator, clear-peak, bump-pass,\n                                 bump-fail, factory-reset, power-down (ask first; --yes),\n                                 calibrate-now"}},
        {"eeprom", {CmdEeprom, "eeprom [--out FILE] [--json]", "factory mode: the EEPROM dump; a hex view, or the CSV file"}},
        {"eventlog", {CmdEventLog, "eventlog [--out FILE]", "download the event log as CSV (default: the proposed name in the event folder)"}},
        {"logreset", {CmdLogReset, "logreset [--yes]", "save the unit's event log as CSV, then clear it (asks first)"}},
        {"image", {CmdImage, "image check FILE [--json]", "a firmware image's checks and header"}},
        {"upgrade", {CmdUpgrade, "upgrade FILE [--yes]", "check the image and the unit, then send it (Ctrl-C cancels)"}},
        {"log", {CmdLog, "log [--seconds N] [--interval S] [--out FILE]", "\n                                 live readings, one line each; --out writes the data log;\n                                 Ctrl-C stops"}},
        {"calibrate", {CmdCalibrate, "calibrate [--span VALUE] [--yes]", "\n                                 guided zero then span calibration; Ctrl-C cancels"}},
        {"doctor", {CmdDoctor, "doctor", "what stands between the tool and the detector, with fixes"}},
    };
    return commands;
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
           "                current directory)\n\n"
           "commands:\n";
    for (const auto& [name, command] : Commands())
        out << "  " << std::left << std::setw(31) << command.synopsis << command.summary << "\n";
    out << "\nThe exit status is the operation's status byte (0 = success).\n";
}

}  // namespace

void InstallCliTrace(CliContext& ctx)
{
    ctx.link->SetOnZELEvent([](TComZEL*, const QDateTime& now, const QString& log) {
        std::cerr << now.toString("hh:mm:ss:zzz").toStdString() << ' ' << log.toStdString() << "\n";
    });
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    CliContext ctx;
    ctx.out = &std::cout;
    ctx.err = &std::cerr;

    if (TakeFlag(args, "--version")) {
        std::cout << "beamdock-cli " << BEAMDOCK_VERSION << "\n";
        return 0;
    }
    // write lists its fields itself.
    const bool writeHelp = args.contains(QStringLiteral("write")) &&
                           args.indexOf(QStringLiteral("write")) < args.indexOf(QStringLiteral("--help"));
    if (args.isEmpty() || (!writeHelp && (TakeFlag(args, "--help") || TakeFlag(args, "-h")))) {
        Usage(args.isEmpty() ? std::cerr : std::cout);
        return args.isEmpty() ? 2 : 0;
    }
    QString portOption;
    const bool hasPortOption = TakeValue(args, "--port", portOption);
    QString dirOption;
    QStringList dirArguments;  // in the form the window's start-up reads
    if (TakeValue(args, "--dir", dirOption))
        dirArguments << QString() << QStringLiteral("--dir") << dirOption;
    ctx.trace = TakeFlag(args, "--trace");
    ctx.json = TakeFlag(args, "--json");

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

    // The command line starts exactly as the window does: the settings of
    // the program directory, with its folders created and keys written back.
    SetCurrentSettings(
        LoadSettings(ChooseProgramDirectory(dirArguments, qEnvironmentVariable(startup::kDirVariable))));
    const LoadedSettings& loaded = CurrentSettings();
    ctx.programDir = loaded.programDir;
    ctx.factoryMode = loaded.factoryMode;
    ctx.settings = loaded.cfg;
    ctx.sensors = loaded.sensors;
    ctx.port = hasPortOption ? portOption.toStdString()
                             : qEnvironmentVariableIsSet("BEAMDOCK_PORT") ? qEnvironmentVariable("BEAMDOCK_PORT").toStdString()
                                                                          : loaded.port;

    TComZEL link;
    ctx.link = &link;
    link.SetDefPort(ctx.port);
    if (ctx.trace)
        InstallCliTrace(ctx);
    const int status = found->second.run(ctx);
    ctx.link = nullptr;  // the link object ends here, the context later
    return status;
}
