// identify and read: the read-only device operations of the command line.
#include <QDateTime>
#include <QJsonObject>

#include <ostream>

#include "CliContext.h"
#include "ConfigFile.h"
#include "ConfigPrinting.h"
#include "RecordFields.h"

namespace {

constexpr int kBlockAttempts = 3;

template <typename Read>
std::uint8_t WithRetries(Read&& read)
{
    std::uint8_t status = 0;
    for (int attempt = 0; attempt < kBlockAttempts; ++attempt)
        if ((status = read()) == 0)
            break;
    return status;
}

}  // namespace

int CmdIdentify(CliContext& ctx)
{
    RZELIdenty identity{};
    const std::uint8_t status = RunOperation(ctx, [&] { return ctx.link->RequireIdenty(identity); });
    if (status == 0) {
        if (ctx.json)
            PrintJson(*ctx.out, QJsonObject{{"identity", RecordToJson(&identity, IdentityFields())}});
        else
            PrintIdentity(*ctx.out, identity);
    }
    return ReportStatus(ctx, "Identify Varnolite", status);
}

std::uint8_t ReadConfiguration(CliContext& ctx, RZELIdenty& identity, RZELCFG& cfg)
{
    std::uint8_t status = ctx.link->RequireIdenty(identity);
    if (status == 0)
        status = CheckProduct(identity.mPID, zel::kVarnoliteModel, ctx.factoryMode);
    RZELCFG read = cfg;
    const RDeviceCFG& s = ctx.settings;
    if (status == 0)
        status = WithRetries([&] { return ctx.link->ReadUnitCFGData(read.mUnit, s.mUnitPacketSize, s.mUnitDataSize); });
    if (status == 0)
        status = WithRetries(
            [&] { return ctx.link->ReadSensorCFGData(read.mSensor, s.mUnitPacketSize, s.mUnitSensorDataSize); });
    if (status == 0)
        cfg = read;
    return status;
}

int CmdRead(CliContext& ctx)
{
    QString savePath;
    const bool save = TakeValue(ctx.args, "--save", savePath);
    RZELIdenty identity{};
    RZELCFG cfg = DefaultConfig();
    const std::uint8_t status = RunOperation(ctx, [&] { return ReadConfiguration(ctx, identity, cfg); });
    if (status != 0)
        return ReportStatus(ctx, "Read Varnolite Information", status);
    if (ctx.json) {
        QJsonObject all = ConfigJson(cfg);
        all.insert("identity", RecordToJson(&identity, IdentityFields()));
        PrintJson(*ctx.out, all);
    } else {
        PrintIdentity(*ctx.out, identity);
        PrintConfig(*ctx.out, cfg, ctx.sensors);
    }
    if (save && !WriteConfigFile(savePath.toStdString(), cfg, ctx.factoryMode, QDateTime::currentDateTime())) {
        const ConfigFileMessage message = WriteConfigFileFailedMessage();
        *ctx.err << message.caption << ": " << MessageLines(message.text) << "\n";
        return kFileFailed;
    }
    return 0;
}
