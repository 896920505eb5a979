#include "BumpRule.h"

#include <pwd.h>
#include <unistd.h>

#include "ProfileFile.h"
#include "ProgramDirectory.h"

namespace {

const std::string kSection = "BumpTest";

int Bounded(const IProfileReader& ini, const char* key, int fallback, int low, int high)
{
    const int value = ini.ReadInt(kSection, key, fallback);
    return value < low || value > high ? fallback : value;
}

}  // namespace

RBumpRule LoadBumpRule(const std::string& programDir)
{
    const ProfileFile ini(SettingsFilePath(programDir));
    RBumpRule rule;
    rule.responsePercent = Bounded(ini, "ResponsePercent", rule.responsePercent, 1, 100);
    rule.timeLimit = Bounded(ini, "TimeLimit", rule.timeLimit, 5, 600);
    rule.clearLimit = Bounded(ini, "ClearLimit", rule.clearLimit, 0, 1800);
    rule.requireHigh = Bounded(ini, "RequireHigh", rule.requireHigh ? 1 : 0, 0, 1) == 1;
    return rule;
}

QJsonObject BumpRuleToJson(const RBumpRule& rule)
{
    return {{QStringLiteral("responsePercent"), rule.responsePercent},
            {QStringLiteral("timeLimitS"), rule.timeLimit},
            {QStringLiteral("clearLimitS"), rule.clearLimit},
            {QStringLiteral("requireHigh"), rule.requireHigh}};
}

QString BumpRuleText(const RBumpRule& rule, bool oxygen)
{
    if (oxygen)
        return QStringLiteral("LOW alarm raised and reading falls to the low set point within %1 s").arg(rule.timeLimit);
    return QStringLiteral("LOW alarm%1 raised and reading at least %2 % of the gas within %3 s")
        .arg(rule.requireHigh ? QStringLiteral(" (and HIGH for gas at or above the high set point)") : QString())
        .arg(rule.responsePercent)
        .arg(rule.timeLimit);
}

RTestGas RememberedGas(const std::string& programDir, std::uint8_t sensorType)
{
    const ProfileFile ini(SettingsFilePath(programDir));
    RTestGas gas;
    bool ok = false;
    // The sensor type's own gas, else the last gas used on any unit (the
    // window asks before it knows the unit).
    std::string text = ini.ReadString(kSection, "Gas" + std::to_string(sensorType), "");
    if (text.empty())
        text = ini.ReadString(kSection, "LastGas", "");
    const double value = QString::fromStdString(text).toDouble(&ok);
    if (ok)
        gas.concentration = value;
    gas.lot = QString::fromStdString(ini.ReadString(kSection, "Lot", ""));
    gas.expiry = QDate::fromString(QString::fromStdString(ini.ReadString(kSection, "Expiry", "")), Qt::ISODate);
    return gas;
}

void RememberGas(const std::string& programDir, std::uint8_t sensorType, const RTestGas& gas)
{
    ProfileFile ini(SettingsFilePath(programDir));
    const std::string value = QString::number(gas.concentration).toStdString();
    ini.WriteString(kSection, "Gas" + std::to_string(sensorType), value);
    ini.WriteString(kSection, "LastGas", value);
    ini.WriteString(kSection, "Lot", gas.lot.toStdString());
    ini.WriteString(kSection, "Expiry", gas.expiry.toString(Qt::ISODate).toStdString());
}

QString DefaultTechnician()
{
    if (const passwd* entry = getpwuid(getuid())) {
        QString full = QString::fromLocal8Bit(entry->pw_gecos).section(QLatin1Char(','), 0, 0).trimmed();
        if (!full.isEmpty())
            return full;
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return qEnvironmentVariable("USER");
}

std::optional<QString> CylinderRefusal(const RTestGas& gas, const QDate& today)
{
    if (!gas.expiry.isValid())
        return QStringLiteral("The gas cylinder has no expiry date; enter the date printed on its label");
    if (gas.expiry < today)
        return QStringLiteral("The gas cylinder expired on %1; use a cylinder within its expiry date")
            .arg(gas.expiry.toString(Qt::ISODate));
    return std::nullopt;
}
