#include "BumpRecord.h"

#include <QDateTime>
#include <QSysInfo>
#include <QTimeZone>

#include "DueDates.h"

namespace {

QString DayText(std::optional<qint64> ms, bool required, const QTimeZone& zone)
{
    if (!required)
        return QStringLiteral("none");
    if (!ms)
        return QStringLiteral("unknown");
    return QDateTime::fromMSecsSinceEpoch(*ms, zone).date().toString(Qt::ISODate);
}

}  // namespace

RRecordContext CurrentRecordContext(const QString& operation)
{
    return {operation.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : operation,
            QSysInfo::machineHostName(), QString::fromUtf8(QTimeZone::systemTimeZoneId()),
            QDateTime::currentMSecsSinceEpoch()};
}

QString DueDate(qint64 fromMs, int intervalDays, const QString& zone)
{
    if (intervalDays <= 0)
        return QStringLiteral("none");
    const QTimeZone tz(zone.toUtf8());
    return QDateTime::fromMSecsSinceEpoch(fromMs, tz.isValid() ? tz : QTimeZone::systemTimeZone())
        .date()
        .addDays(intervalDays)
        .toString(Qt::ISODate);
}

QJsonObject CalibrationRecordJson(QJsonObject check, const RBumpUnit& unit, const RZELSensorCFG& sensor, bool passed,
                                  const RRecordContext& context)
{
    check.insert(QStringLiteral("operation"), context.operation);
    check.insert(QStringLiteral("station"), context.station);
    check.insert(QStringLiteral("zone"), context.zone);
    check.insert(QStringLiteral("started"),
                 QDateTime::fromMSecsSinceEpoch(context.nowMs, QTimeZone::utc()).toString(Qt::ISODateWithMs));
    check.insert(QStringLiteral("unit"), BumpUnitToJson(unit));
    const QTimeZone zone(context.zone.toUtf8());
    const QTimeZone shown = zone.isValid() ? zone : QTimeZone::systemTimeZone();
    const duedates::RUnitTimers timers{context.nowMs, sensor.mLastCal, sensor.mCalInterval, sensor.mLastBump,
                                       sensor.mBumpInterval};
    const duedates::RDueDates due =
        duedates::Compute(timers, passed ? std::optional<qint64>(context.nowMs) : std::nullopt, std::nullopt,
                          context.nowMs, duedates::kDefaultDueWithinDays, shown);
    check.insert(QStringLiteral("nextCalibrationDue"), passed ? DayText(due.calDueMs, due.calRequired, shown)
                                                              : QStringLiteral("now: the calibration did not pass"));
    check.insert(QStringLiteral("nextBumpDue"), DayText(due.bumpDueMs, due.bumpRequired, shown));
    return check;
}

QJsonObject BumpRecordJson(const RBumpResult& result, const RZELSensorCFG& sensor, const RRecordContext& context)
{
    QJsonObject json = BumpResultToJson(result);
    json.insert(QStringLiteral("operation"), context.operation);
    json.insert(QStringLiteral("station"), context.station);
    json.insert(QStringLiteral("zone"), context.zone);
    const QTimeZone zone(context.zone.toUtf8());
    const QTimeZone shown = zone.isValid() ? zone : QTimeZone::systemTimeZone();
    // The unit's own timers as read after the verdict; a pass recorded now
    // counts even when the unit's timer did not show it.
    const duedates::RUnitTimers timers{context.nowMs, sensor.mLastCal, sensor.mCalInterval, sensor.mLastBump,
                                       sensor.mBumpInterval};
    const bool passed = result.outcome == BumpOutcome::Passed;
    const duedates::RDueDates due = duedates::Compute(
        timers, std::nullopt, passed ? std::optional<qint64>(context.nowMs) : std::nullopt, context.nowMs,
        duedates::kDefaultDueWithinDays, shown);
    json.insert(QStringLiteral("nextCalibrationDue"), DayText(due.calDueMs, due.calRequired, shown));
    json.insert(QStringLiteral("nextBumpDue"),
                passed ? DayText(due.bumpDueMs, due.bumpRequired, shown)
                       : QStringLiteral("now: the unit has not passed a bump test"));
    return json;
}
