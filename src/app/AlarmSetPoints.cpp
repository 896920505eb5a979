#include "AlarmSetPoints.h"

#include "ConfigMapping.h"
#include "SensorTypes.h"

namespace {

QString Shown(double value, const QString& unit)
{
    const QString number = QString::number(value, 'f', 1);
    return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

}  // namespace

std::optional<QString> AlarmSetPointFault(const RZELSensorCFG& sensor, const std::vector<RSensorType>& sensors)
{
    const int index = FindSensorType(sensors, sensor.mSensorType);
    const RSensorType* type = index < 0 ? nullptr : &sensors[static_cast<std::size_t>(index)];
    const QString unit = type ? QString::fromStdString(type->mUnit) : QString();
    const double high = sensor.mAlarmHigh / 10.0;
    const double low = sensor.mAlarmLow / 10.0;
    if (high <= low)
        return QStringLiteral("The high alarm (%1) must lie above the low alarm (%2).")
            .arg(Shown(high, unit), Shown(low, unit));
    if (!type)
        return std::nullopt;
    const RSpinRange range = AlarmRangeFor(*type);
    // The set points are stored in tenths: compare in tenths, so that a
    // bound such as 0.05 does not refuse the value shown as its neighbour.
    const auto tenths = [](double v) { return static_cast<long long>(v * 10.0 + (v < 0 ? -0.5 : 0.5)); };
    const auto outside = [&](double v) { return tenths(v) < tenths(range.min) || tenths(v) > tenths(range.max); };
    if (outside(high) || outside(low))
        return QStringLiteral("The high alarm (%1) and the low alarm (%2) must both lie within the range of the "
                              "%3 sensor, %4 to %5.")
            .arg(Shown(high, unit), Shown(low, unit), QString::fromStdString(type->mName),
                 Shown(range.min, QString()), Shown(range.max, unit));
    return std::nullopt;
}
