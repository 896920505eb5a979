// beamdock-cli history certificate / verify-certificate / report: a test's
// certificate made again from its record, a certificate checked against the
// history, and the fleet report.
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTimeZone>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "Certificate.h"
#include "CliContext.h"
#include "DueDates.h"
#include "EventLogCsv.h"
#include "FleetReport.h"
#include "HistoryLocation.h"
#include "HistoryQueries.h"
#include "SensorTypes.h"

namespace {

constexpr int kVerifyFailed = 1;
constexpr int kDefaultPeriodDays = 30;

bool Open(CliContext& ctx, THistoryStore& store)
{
    QString error;
    const std::optional<RHistoryLocation> location = ChooseHistoryLocation(ctx.historyDb, error);
    if (!location || !store.Open(*location, error)) {
        *ctx.err << error.toStdString() << "\n";
        return false;
    }
    return true;
}

bool TakeDays(CliContext& ctx, const char* option, int& days)
{
    QString text;
    if (!TakeValue(ctx.args, option, text))
        return true;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > 3650) {
        *ctx.err << "beamdock-cli: " << option << " '" << text.toStdString() << "' is not allowed: whole days 0..3650\n";
        return false;
    }
    days = value;
    return true;
}

QString DayText(std::optional<qint64> ms)
{
    return ms ? QDateTime::fromMSecsSinceEpoch(*ms).date().toString(Qt::ISODate) : QStringLiteral("unknown");
}

int Rank(duedates::DueStatus status)
{
    return static_cast<int>(status);
}

}  // namespace

int CmdHistoryCertificate(CliContext& ctx)
{
    QString out;
    const bool hasOut = TakeValue(ctx.args, "--out", out);
    if (!hasOut || ctx.args.size() != 1) {
        *ctx.err << "usage: beamdock-cli history certificate OPERATION-UUID --out FILE.pdf\n";
        return kUsageError;
    }
    THistoryStore store;
    if (!Open(ctx, store))
        return kFileFailed;
    QString error;
    const std::optional<RStoredTest> test = historyqueries::TestRecord(store, ctx.args.first(), error);
    if (!test) {
        *ctx.err << "beamdock-cli: "
                 << (error.isEmpty() ? "the history keeps no bump test or calibration of operation " +
                                           ctx.args.first().toStdString()
                                     : error.toStdString())
                 << "\n";
        return kFileFailed;
    }
    if (RecordSha256(test->json) != test->sha256) {
        *ctx.err << "beamdock-cli: the record of operation " << test->opUuid.toStdString()
                 << " no longer gives its hash; no certificate is made of it\n";
        return kVerifyFailed;
    }
    if (!WriteCertificate(out, test->json, error)) {
        *ctx.err << "beamdock-cli: " << error.toStdString() << "\n";
        return kFileFailed;
    }
    *ctx.out << CertificateNumber(test->opUuid).toStdString() << " written to " << out.toStdString() << "\n";
    return 0;
}

int CmdHistoryVerifyCertificate(CliContext& ctx)
{
    if (ctx.args.size() != 1) {
        *ctx.err << "usage: beamdock-cli history verify-certificate FILE.pdf\n";
        return kUsageError;
    }
    QString error;
    const std::optional<RCertificateContent> content = ReadCertificate(ctx.args.first(), error);
    if (!content) {
        *ctx.err << "beamdock-cli: " << error.toStdString() << "\n";
        return kFileFailed;
    }
    const QString operation =
        QJsonDocument::fromJson(content->record).object().value(QStringLiteral("operation")).toString();
    THistoryStore store;
    if (!Open(ctx, store))
        return kFileFailed;
    const std::optional<RStoredTest> test = historyqueries::TestRecord(store, operation, error);
    QString finding;
    if (!test)
        finding = error.isEmpty() ? QStringLiteral("the history keeps no record of operation %1").arg(operation) : error;
    else if (RecordSha256(test->json) != test->sha256)
        finding = QStringLiteral("the history's record of operation %1 was changed").arg(operation);
    else if (test->sha256 != content->sha256)
        finding = QStringLiteral("the certificate's record differs from the history's (SHA-256 %1, history %2)")
                      .arg(content->sha256, test->sha256);
    if (!finding.isEmpty()) {
        *ctx.out << "verify-certificate: " << finding.toStdString() << "\n";
        return kVerifyFailed;
    }
    *ctx.out << "verify-certificate: " << CertificateNumber(operation).toStdString()
             << " matches the history (SHA-256 " << test->sha256.toStdString() << ")\n";
    return 0;
}

int CmdHistoryReport(CliContext& ctx)
{
    QString out;
    const bool hasOut = TakeValue(ctx.args, "--out", out);
    int dueWithin = duedates::kDefaultDueWithinDays;
    int period = kDefaultPeriodDays;
    if (!TakeDays(ctx, "--due-within", dueWithin) || !TakeDays(ctx, "--since", period) || !hasOut ||
        !ctx.args.isEmpty()) {
        *ctx.err << "usage: beamdock-cli history report [--due-within DAYS] [--since DAYS] --out FILE.pdf\n";
        return kUsageError;
    }
    THistoryStore store;
    if (!Open(ctx, store))
        return kFileFailed;
    QString error;
    const std::vector<RUnitRow> units = historyqueries::Units(store, error);
    if (!error.isEmpty()) {
        *ctx.err << error.toStdString() << "\n";
        return kFileFailed;
    }
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const qint64 fromMs = now.addDays(-period).toMSecsSinceEpoch();
    RFleetReport report;
    report.station = QSysInfo::machineHostName();
    report.generated = now.toString(QStringLiteral("yyyy-MM-dd HH:mm t"));
    report.period = QStringLiteral("%1 to %2").arg(now.addDays(-period).date().toString(Qt::ISODate),
                                                   now.date().toString(Qt::ISODate));
    report.dueWithinDays = dueWithin;
    for (const RUnitRow& unit : units) {
        duedates::RUnitTimers timers{unit.lastSeenMs, duedates::kUnknownTimer + 1, 0, duedates::kUnknownTimer + 1, 0};
        if (unit.latestImage.size() == static_cast<qsizetype>(sizeof(RZELCFG))) {
            RZELCFG cfg{};
            std::memcpy(&cfg, unit.latestImage.constData(), sizeof cfg);
            timers = {unit.imageMs, cfg.mSensor.mLastCal, cfg.mSensor.mCalInterval, cfg.mSensor.mLastBump,
                      cfg.mSensor.mBumpInterval};
        }
        const duedates::RDueDates due =
            duedates::Compute(timers, unit.historyCalMs, unit.historyBumpMs, nowMs, dueWithin, zone);
        RFleetUnit row;
        row.serial = unit.serial;
        row.userId = unit.userId;
        const int sensorRow = FindSensorType(ctx.sensors, static_cast<std::uint8_t>(unit.sensorType));
        row.sensor = sensorRow >= 0 ? QString::fromStdString(ctx.sensors[static_cast<std::size_t>(sensorRow)].mName)
                                    : QString::number(unit.sensorType);
        row.lastCalibration = DayText(due.lastCalMs);
        row.calibrationDue = due.calRequired ? DayText(due.calDueMs) : QStringLiteral("none");
        row.lastBump = DayText(due.lastBumpMs);
        row.bumpDue = due.bumpRequired ? DayText(due.bumpDueMs) : QStringLiteral("none");
        row.status = duedates::StatusText(due.status, dueWithin);
        row.rank = Rank(due.status);
        // The alarm events of the period from the merged log; bump tests
        // the unit logged are not alarms.
        double highest = -1e9;
        for (const RStoredEvent& stored : historyqueries::UnitEvents(store, unit.serial, error)) {
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
        report.units.push_back(row);
    }
    if (!WriteFleetReport(out, std::move(report), error)) {
        *ctx.err << "beamdock-cli: " << error.toStdString() << "\n";
        return kFileFailed;
    }
    *ctx.out << "Fleet report of " << units.size() << " units written to " << out.toStdString() << "\n";
    return 0;
}
