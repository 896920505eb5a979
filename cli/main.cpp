// beamdock-cli: the detector operations of the window, for scripts and
// terminals. Every command runs the same open / commands / close cycle.
#include <QCoreApplication>
#include <QDir>

#include <iostream>
#include <map>

#include "CliContext.h"

namespace {

struct Command {
    int (*run)(CliContext&);
    const char* summary;
};

const std::map<QString, Command>& Commands()
{
    static const std::map<QString, Command> commands = {
        {"identify", {CmdIdentify, "identify                 model, versions, sensor, life and serial of the unit"}},
        {"read", {CmdRead, "read [--json]            the unit's configuration (identity, unit and sensor blocks)"}},
    };
    return commands;
}

void Usage(std::ostream& out)
{
    out << "usage: beamdock-cli [--port PATH] [--trace] [--dir DIR] COMMAND [options]\n\n"
           "  --port PATH   serial device of the Beamdock (skips adapter discovery;\n"
           "                also taken from BEAMDOCK_PORT)\n"
           "  --trace       every frame sent and received, on standard error\n"
           "  --dir DIR     run as if DIR were the program directory\n\n"
           "commands:\n";
    for (const auto& [name, command] : Commands())
        out << "  " << command.summary << "\n";
    out << "\nThe exit status is the operation's status byte (0 = success).\n";
}

void InstallTrace(CliContext& ctx)
{
    ctx.link->SetOnZELEvent([](TComZEL*, const QDateTime& now, const QString& log) {
        std::cerr << now.toString("hh:mm:ss:zzz").toStdString() << ' ' << log.toStdString() << "\n";
    });
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    CliContext ctx;
    ctx.out = &std::cout;
    ctx.err = &std::cerr;

    if (args.isEmpty() || TakeFlag(args, "--help") || TakeFlag(args, "-h")) {
        Usage(args.isEmpty() ? std::cerr : std::cout);
        return args.isEmpty() ? 2 : 0;
    }
    QString value;
    ctx.port = qEnvironmentVariable("BEAMDOCK_PORT").toStdString();
    if (TakeValue(args, "--port", value))
        ctx.port = value.toStdString();
    QString dir = QDir::currentPath();
    if (TakeValue(args, "--dir", value))
        dir = value;
    ctx.programDir = QDir(dir).absolutePath().toStdString() + "/";
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

    TComZEL link;
    ctx.link = &link;
    link.SetDefPort(ctx.port);
    if (ctx.trace)
        InstallTrace(ctx);
    return found->second.run(ctx);
}
