#include "FleetRows.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "EventLogCsv.h"
#include "HistoryQueries.h"
#include "TextHelpers.h"

namespace fleet {
namespace {

struct RExtra {
    QString station, calResult, bumpResult;
    int alarms = 0;
};

bool Each(THistoryStore& store, const QString& sql, const QVariantList& values, QString& error,
          const std::function<void(const QSqlQuery&)>& take)
{
    QSqlQuery query(store.Db());
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        error = QStringLiteral("Failed to read the history: %1").arg(query.lastError().text());
        return false;
    }
    while (query.next())
        take(query);
    return true;
}

std::map<QString, RExtra> Extras(THistoryStore& store, qint64 nowMs, QString& error)
{
    std::map<QString, RExtra> extras;
    const bool ok =
        Each(store,
             QStringLiteral("SELECT e.serial, s.station FROM operations e JOIN (SELECT serial, MAX(seq) AS seq FROM operations"
                            " WHERE kind = 'end' AND serial <> '' GROUP BY serial) l ON e.seq = l.seq"
                            " JOIN operations s ON s.op_uuid = e.op_uuid AND s.kind = 'start'"),
             {}, error, [&](const QSqlQuery& q) { extras[q.value(0).toString()].station = q.value(1).toString(); }) &&
        Each(store,
             QStringLiteral("SELECT c.serial, c.result FROM calibrations c JOIN (SELECT serial, MAX(at_ms) AS at_ms"
                            " FROM calibrations GROUP BY serial) l ON c.serial = l.serial AND c.at_ms = l.at_ms"),
             {}, error, [&](const QSqlQuery& q) { extras[q.value(0).toString()].calResult = q.value(1).toString(); }) &&
        Each(store,
             QStringLiteral("SELECT b.serial, b.result FROM bump_tests b JOIN (SELECT serial, MAX(at_ms) AS at_ms"
                            " FROM bump_tests GROUP BY serial) l ON b.serial = l.serial AND b.at_ms = l.at_ms"),
             {}, error, [&](const QSqlQuery& q) { extras[q.value(0).toString()].bumpResult = q.value(1).toString(); }) &&
        Each(store,
             // An event is known only from a download after it, so only units
             // with an operation in the window can have one: their events are
             // found through the key, not by reading every event stored.
             QStringLiteral("SELECT serial, COUNT(*) FROM events WHERE serial IN (SELECT DISTINCT serial FROM operations"
                            " WHERE kind = 'end' AND at_ms >= ? AND serial <> '') AND calendar_ms >= ? AND (flags & ?) <> 0"
                            " GROUP BY serial"),
             {nowMs - kAlarmWindowMs, nowMs - kAlarmWindowMs, int(eventlog::kLowAlarmFlag | eventlog::kHighAlarmFlag)}, error,
             [&](const QSqlQuery& q) { extras[q.value(0).toString()].alarms = q.value(1).toInt(); });
    if (!ok)
        extras.clear();
    return extras;
}

QString SensorName(const std::vector<RSensorType>& sensors, int type)
{
    const int index = FindSensorType(sensors, static_cast<std::uint8_t>(type));
    return index < 0 ? QString::number(type) : QString::fromStdString(sensors[static_cast<std::size_t>(index)].mName);
}

}  // namespace

FleetStatus StatusOf(const duedates::RDueDates& due)
{
    switch (due.status) {
    case duedates::DueStatus::Overdue: return FleetStatus::Overdue;
    case duedates::DueStatus::DueSoon: return FleetStatus::DueSoon;
    case duedates::DueStatus::Unknown: return FleetStatus::Never;
    case duedates::DueStatus::Ok: break;
    }
    return FleetStatus::Ok;
}

QString StatusText(FleetStatus status, int dueWithinDays)
{
    switch (status) {
    case FleetStatus::Overdue: return QStringLiteral("overdue");
    case FleetStatus::DueSoon: return QStringLiteral("due within %1 days").arg(dueWithinDays);
    case FleetStatus::Never: return QStringLiteral("never calibrated");
    case FleetStatus::Ok: break;
    }
    return QStringLiteral("ok");
}

std::optional<qint64> NextDue(const RFleetRow& row)
{
    std::optional<qint64> next = row.calRequired ? row.calDueMs : std::nullopt;
    if (row.bumpRequired && row.bumpDueMs && (!next || *row.bumpDueMs < *next))
        next = row.bumpDueMs;
    return next;
}

bool DefaultLess(const RFleetRow& a, const RFleetRow& b)
{
    if (a.status != b.status)
        return a.status < b.status;
    const std::optional<qint64> da = NextDue(a), db = NextDue(b);
    if (da.has_value() != db.has_value())
        return da.has_value();
    if (da && *da != *db)
        return *da < *db;
    return a.serial < b.serial;
}

bool Matches(const RFleetRow& row, const QString& filter)
{
    const QString f = filter.trimmed();
    return f.isEmpty() || row.serial.contains(f, Qt::CaseInsensitive) || row.userId.contains(f, Qt::CaseInsensitive) ||
           row.sensor.contains(f, Qt::CaseInsensitive);
}

std::vector<RFleetRow> LoadRows(THistoryStore& store, const std::vector<RSensorType>& sensors, qint64 nowMs,
                                int dueWithinDays, QString& error)
{
    const std::vector<RUnitRow> units = historyqueries::Units(store, error);
    if (!error.isEmpty())
        return {};
    std::map<QString, RExtra> extras = Extras(store, nowMs, error);
    if (!error.isEmpty())
        return {};
    const QTimeZone zone = QTimeZone::systemTimeZone();
    std::vector<RFleetRow> rows;
    rows.reserve(units.size());
    for (const RUnitRow& unit : units) {
        duedates::RUnitTimers timers{unit.lastSeenMs, duedates::kUnknownTimer + 1, 0, duedates::kUnknownTimer + 1, 0};
        if (unit.latestImage.size() == static_cast<qsizetype>(sizeof(RZELCFG))) {
            RZELCFG cfg{};
            std::memcpy(&cfg, unit.latestImage.constData(), sizeof cfg);
            timers = {unit.imageMs, cfg.mSensor.mLastCal, cfg.mSensor.mCalInterval, cfg.mSensor.mLastBump,
                      cfg.mSensor.mBumpInterval};
        }
        const duedates::RDueDates due =
            duedates::Compute(timers, unit.historyCalMs, unit.historyBumpMs, nowMs, dueWithinDays, zone);
        const RExtra& extra = extras[unit.serial];
        RFleetRow row;
        row.status = StatusOf(due);
        row.serial = unit.serial;
        row.userId = unit.userId.trimmed();
        row.product = QString::fromStdString(ModelName(static_cast<std::uint8_t>(unit.productId)));
        row.sensor = SensorName(sensors, unit.sensorType);
        row.firmware = QString::fromStdString(FWVersionText(static_cast<std::uint8_t>(unit.fwVersion)));
        row.lastSeenMs = unit.lastSeenMs;
        row.station = extra.station;
        row.lastCalMs = due.lastCalMs;
        row.calDueMs = due.calDueMs;
        row.lastBumpMs = due.lastBumpMs;
        row.bumpDueMs = due.bumpDueMs;
        row.calRequired = due.calRequired;
        row.bumpRequired = due.bumpRequired;
        row.calResult = extra.calResult;
        row.bumpResult = extra.bumpResult;
        row.alarms30Days = extra.alarms;
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end(), DefaultLess);
    return rows;
}

}  // namespace fleet
