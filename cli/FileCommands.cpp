// cfg show and settings: what is on disk, without a detector.
#include <QJsonArray>
#include <QJsonObject>

#include <iomanip>
#include <utility>
#include <vector>
#include <ostream>

#include "CliContext.h"
#include "ConfigFile.h"
#include "ConfigPrinting.h"
#include "StatusTexts.h"

int CmdCfgShow(CliContext& ctx)
{
    if (ctx.args.size() != 2 || ctx.args.at(0) != "show") {
        *ctx.err << "usage: beamdock-cli cfg show FILE [--json]\n";
        return kUsageError;
    }
    // A file fills in only the fields it carries; the rest show as a new
    // configuration has them, exactly as "Read File" does in the window.
    RZELCFG cfg = DefaultConfig();
    std::vector<std::string> notHeld;
    const ConfigFileResult result = ReadConfigFile(ctx.args.at(1).toStdString(), DefaultConfig(), cfg, &notHeld);
    if (result != ConfigFileResult::Ok) {
        const ConfigFileMessage message = ReadConfigFileMessage(result);
        *ctx.err << message.caption << "\n" << MessageLines(message.text) << "\n";
        return kFileFailed;
    }
    if (!notHeld.empty()) {
        *ctx.err << "This file does not hold:";
        for (std::size_t i = 0; i < notHeld.size(); ++i)
            *ctx.err << (i == 0 ? " " : ", ") << notHeld[i];
        *ctx.err << " (shown as older releases implied them)\n";
    }
    if (ctx.json)
        PrintJson(*ctx.out, ConfigJson(cfg));
    else
        PrintConfig(*ctx.out, cfg, ctx.sensors);
    return 0;
}

namespace {

using Fields = std::vector<std::pair<QString, QJsonValue>>;

// In declaration order, so the text listing reads like the settings file.
Fields SettingsFields(const RDeviceCFG& s)
{
    Fields o;
#define NUMBER(field) o.emplace_back(#field, static_cast<double>(s.field))
#define TEXT(field) o.emplace_back(#field, QString::fromStdString(s.field))
    NUMBER(mConnectTime); NUMBER(mAVOperate); NUMBER(mUnitPacketSize); NUMBER(mUnitDataSize);
    NUMBER(mUnitSensorDataSize); NUMBER(mUnitWriteUserStart); NUMBER(mUnitWriteUserSize);
    NUMBER(mUnitWriteFactoryStart); NUMBER(mUnitWriteFactorySize); NUMBER(mSensorWriteUserStart);
    NUMBER(mSensorWriteUserSize); NUMBER(mSensorWriteFactoryStart); NUMBER(mSensorWriteFactorySize);
    TEXT(mEEPROMSaveDir); NUMBER(mEEPROMPacketSize); NUMBER(mEEPROMMaxAddress); NUMBER(mEEPROMReadAddress);
    NUMBER(mEVENTReadPacketSize); NUMBER(mEVENTPacketSize); TEXT(mEVENTSaveDir); TEXT(mFLASHFile);
    TEXT(mFLASHSaveDir); NUMBER(mFLASHMaxAddress); NUMBER(mFALSHPacketSize); NUMBER(mFLASHDownloadRetry);
    NUMBER(mFLASHRetry); TEXT(mLogSaveDir); NUMBER(mLogInterval); NUMBER(mLogDisplayTime);
    NUMBER(mLogConnectTime); NUMBER(mCalTime); NUMBER(mCalCheckTime);
#undef NUMBER
#undef TEXT
    o.emplace_back("mLogEnable", s.mLogEnable);
    return o;
}

QJsonObject SensorJson(const RSensorType& t)
{
    return {{"mName", QString::fromStdString(t.mName)}, {"mIndex", t.mIndex},
            {"mUnit", QString::fromStdString(t.mUnit)}, {"mSpec", QString::fromStdString(t.mSpec)},
            {"mCalTime", t.mCalTime}, {"mMin", static_cast<double>(t.mMin)}, {"mMax", static_cast<double>(t.mMax)}};
}

}  // namespace

int CmdSettings(CliContext& ctx)
{
    if (!ctx.args.isEmpty()) {
        *ctx.err << "beamdock-cli: unexpected argument '" << ctx.args.first().toStdString() << "'\n"
                 << "usage: beamdock-cli settings [--json]\n";
        return kUsageError;
    }
    const Fields fields = SettingsFields(ctx.settings);
    if (ctx.json) {
        QJsonObject settings;
        for (const auto& [name, value] : fields)
            settings.insert(name, value);
        QJsonArray sensors;
        for (const RSensorType& sensor : ctx.sensors)
            sensors.append(SensorJson(sensor));
        PrintJson(*ctx.out, {{"factoryMode", ctx.factoryMode}, {"settings", settings}, {"sensors", sensors}});
        return 0;
    }
    std::ostream& out = *ctx.out;
    out << "Program directory  " << ctx.programDir << "\n";
    out << "Mode               " << (ctx.factoryMode ? "factory" : "user") << "\n";
    out << "Port               " << (ctx.port.empty() ? "(discovery)" : ctx.port) << "\n\n";
    for (const auto& [name, value] : fields)
        out << std::left << std::setw(26) << name.toStdString() << value.toVariant().toString().toStdString() << "\n";
    out << "\nSensor types\n";
    for (const RSensorType& t : ctx.sensors)
        out << "  " << std::left << std::setw(8) << t.mName << " code " << std::setw(4) << int(t.mIndex) << std::setw(5)
            << t.mUnit << " (" << t.mSpec << ")  cal " << t.mCalTime << " s  range " << t.mMin << ".." << t.mMax
            << "\n";
    return 0;
}
