#include "HistoryDocuments.h"

#include <QSysInfo>
#include <QTimeZone>

#include <algorithm>
#include <cstring>

#include "Certificate.h"
#include "DueDates.h"
#include "EventLogCsv.h"
#include "HistoryQueries.h"

namespace {

QString DayText(std::optional<qint64> ms)
{
    return ms ? QDateTime::fromMSecsSinceEpoch(*ms).date().toString(Qt::ISODate) : QStringLiteral("unknown");
}

duedates::RUnitTimers TimersOf(const RUnitRow& unit)
{
    if (unit.latestImage.size() != static_cast<qsizetype>(sizeof(RZELCFG)))
        return {unit.lastSeenMs, duedates::kUnknownTimer + 1, 0, duedates::kUnknownTimer + 1, 0};
    RZELCFG cfg{};
    std::memcpy(&cfg, unit.latestImage.constData(), sizeof cfg);
    return {unit.imageMs, cfg.mSensor.mLastCal, cfg.mSensor.mCalInterval, cfg.mSensor.mLastBump,
            cfg.mSensor.mBumpInterval};
}

// The alarm events of the period from the merged log; bump tests the unit
// logged are not alarms.
void AddAlarms(THistoryStore& store, qint64 fromMs, RFleetUnit& row, QString& error)
{
    double highest = -1e9;
    for (const RStoredEvent& stored : historyqueries::UnitEvents(store, row.serial, error)) {
        if (stored.raw.size() != static_cast<qsizetype>(sizeof(RZELEvent)) || !stored.calendarMs ||
            *stored.calendarMs < fromMs)
            continue;
        RZELEvent event{};
        std::memcpy(&event, stored.raw.constData(), sizeof event);
        if ((event.mDurationEvent & eventlog::kBumpTestBit) || event.mAlarmStatusFlag == 0)
            continue;
        ++row.alarmCount;
        row.alarmSeconds += event.mDurationEvent & eventlog::kDurationMask;
        highest = std::max(highest, event.mSensorReading / 10.0);
    }
    row.highestReading = row.alarmCount > 0 ? QString::number(highest) : QStringLiteral("-");
}

}  // namespace

std::optional<RFleetReport> FleetReportFromHistory(THistoryStore& store, const std::vector<RSensorType>& sensors,
                                                   int dueWithinDays, int periodDays, const QDateTime& now,
                                                   QString& error)
{
    const std::vector<RUnitRow> units = historyqueries::Units(store, error);
    if (!error.isEmpty())
        return std::nullopt;
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const qint64 fromMs = now.addDays(-periodDays).toMSecsSinceEpoch();
    RFleetReport report;
    report.station = QSysInfo::machineHostName();
    report.generated = now.toString(QStringLiteral("yyyy-MM-dd HH:mm t"));
    report.period = QStringLiteral("%1 to %2").arg(now.addDays(-periodDays).date().toString(Qt::ISODate),
                                                   now.date().toString(Qt::ISODate));
    report.dueWithinDays = dueWithinDays;
    for (const RUnitRow& unit : units) {
        const duedates::RDueDates due =
            duedates::Compute(TimersOf(unit), unit.historyCalMs, unit.historyBumpMs, nowMs, dueWithinDays, zone);
        RFleetUnit row;
        row.serial = unit.serial;
        row.userId = unit.userId;
        const int sensorRow = FindSensorType(sensors, static_cast<std::uint8_t>(unit.sensorType));
        row.sensor = sensorRow >= 0 ? QString::fromStdString(sensors[static_cast<std::size_t>(sensorRow)].mName)
                                    : QString::number(unit.sensorType);
        row.lastCalibration = DayText(due.lastCalMs);
        row.calibrationDue = due.calRequired ? DayText(due.calDueMs) : QStringLiteral("none");
        row.lastBump = DayText(due.lastBumpMs);
        row.bumpDue = due.bumpRequired ? DayText(due.bumpDueMs) : QStringLiteral("none");
        row.status = duedates::StatusText(due.status, dueWithinDays);
        row.rank = static_cast<int>(due.status);
        AddAlarms(store, fromMs, row, error);
        report.units.push_back(row);
    }
    return report;
}

CertificateOutcome CertificateFromHistory(THistoryStore& store, const QString& opUuid, const QString& path,
                                          QString& number, QString& error)
{
    const std::optional<RStoredTest> test = historyqueries::TestRecord(store, opUuid, error);
    if (!test) {
        if (error.isEmpty())
            error = QStringLiteral("the history keeps no bump test or calibration of operation %1").arg(opUuid);
        return CertificateOutcome::NoRecord;
    }
    if (RecordSha256(test->json) != test->sha256) {
        error = QStringLiteral("the record of operation %1 no longer gives its hash; no certificate is made of it")
                    .arg(test->opUuid);
        return CertificateOutcome::RecordChanged;
    }
    if (!WriteCertificate(path, test->json, error))
        return CertificateOutcome::Failed;
    number = CertificateNumber(test->opUuid);
    return CertificateOutcome::Written;
}
