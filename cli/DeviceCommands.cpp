// identify and read: the read-only device operations of the command line.
#include <QDateTime>
#include <QJsonObject>

#include <ostream>

#include "CliContext.h"
#include "ConfigFile.h"
#include "ConfigPrinting.h"
#include "OperationRecorder.h"
#include "RecordFields.h"
#include "WorkflowSession.h"

int CmdIdentify(CliContext& ctx)
{
    if (!ctx.args.isEmpty()) {
        *ctx.err << "beamdock-cli: unexpected argument '" << ctx.args.first().toStdString() << "'\n"
                 << "usage: beamdock-cli identify [--json]\n";
        return kUsageError;
    }
    RZELIdenty identity{};
    ProcessRecorder().BeginOperation(QStringLiteral("Identify Varnolite"));
    const std::uint8_t status = RunOperation(ctx, [&] { return ctx.link->RequireIdenty(identity); });
    if (status == 0)
        ProcessRecorder().UnitIdentified(identity);
    ProcessRecorder().EndOperation(status);
    if (status == 0) {
        if (ctx.json)
            PrintJson(*ctx.out, QJsonObject{{"identity", RecordToJson(&identity, IdentityFields())}});
        else
            PrintIdentity(*ctx.out, identity);
    }
    return ReportStatus(ctx, "Identify Varnolite", status);
}

int CmdRead(CliContext& ctx)
{
    QString savePath;
    const bool save = TakeValue(ctx.args, "--save", savePath);
    if (!ctx.args.isEmpty()) {
        *ctx.err << "usage: beamdock-cli read [--json] [--save FILE]\n";
        return kUsageError;
    }
    // The window's own "Read Device": model check, three attempts per block.
    WorkflowSession session(ctx);
    session.workflows.UserReadDeviceBtnClick();
    if (!session.Succeeded())
        return session.ExitCode();
    const RZELIdenty& identity = session.workflows.LastIdentity();
    const RZELCFG& cfg = session.workflows.CurrentConfig();
    if (ctx.json) {
        QJsonObject all = ConfigJson(cfg);
        all.insert("identity", RecordToJson(&identity, IdentityFields()));
        PrintJson(*ctx.out, all);
    } else {
        PrintIdentity(*ctx.out, identity);
        PrintConfig(*ctx.out, cfg, ctx.sensors);
        PrintDueDates(*ctx.out, cfg);
    }
    if (save && !WriteConfigFile(savePath.toStdString(), cfg, ctx.factoryMode, QDateTime::currentDateTime())) {
        const ConfigFileMessage message = WriteConfigFileFailedMessage();
        *ctx.err << message.caption << ":\n" << MessageLines(message.text) << "\n";
        return kFileFailed;
    }
    return 0;
}
