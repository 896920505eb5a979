// history: what the history database holds about the units, the merged event
// log, sending the station's spool and checking the audit chain.
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <ostream>

#include "CliContext.h"
#include "ConfigPrinting.h"
#include "DueDates.h"
#include "EventLogCsv.h"
#include "HistoryQueries.h"
#include "HistorySink.h"
#include "RecordFields.h"
#include "SensorTypes.h"
#include "TextHelpers.h"
#include "WholeFile.h"

namespace {

constexpr int kVerifyFailed = 1;
const char* const kUsage =
    "usage: beamdock-cli [--db URL] history units [--due-within DAYS] [--json|--csv]\n"
    "       beamdock-cli [--db URL] history unit SERIAL|--unknown [--json]\n"
    "       beamdock-cli [--db URL] history events SERIAL [--out FILE]\n"
    "       beamdock-cli [--db URL] history sync|verify\n"
    "       beamdock-cli [--db URL] history certificate OPERATION-UUID --out FILE.pdf\n"
    "       beamdock-cli [--db URL] history verify-certificate FILE.pdf\n"
    "       beamdock-cli [--db URL] history report [--due-within DAYS] [--since DAYS] --out FILE.pdf\n"
    "  URL: a path, sqlite:PATH or postgresql://user@host:port/dbname[?host=SOCKETDIR&sslmode=...];\n"
    "       else BEAMDOCK_DB, else $XDG_DATA_HOME/beamdock/history.sqlite\n";

int Usage(CliContext& ctx)
{
    *ctx.err << kUsage;
    return kUsageError;
}

std::optional<RHistoryLocation> Location(CliContext& ctx)
{
    QString error;
    std::optional<RHistoryLocation> location = ChooseHistoryLocation(ctx.historyDb, error);
    if (!location)
        *ctx.err << error.toStdString() << "\n";
    return location;
}

enum class Opened { Yes, NoHistoryYet, Failed };

// Looking at a history that was never written leaves none behind: opening
// a station file would create it and its folder.
Opened OpenToRead(CliContext& ctx, THistoryStore& store)
{
    const std::optional<RHistoryLocation> location = Location(ctx);
    if (!location)
        return Opened::Failed;
    if (location->engine == HistoryEngine::Sqlite && !QFileInfo::exists(location->sqlitePath)) {
        *ctx.err << "no history at " << location->sqlitePath.toStdString() << " yet\n";
        return Opened::NoHistoryYet;
    }
    QString error;
    if (!store.Open(*location, error)) {
        *ctx.err << error.toStdString() << "\n";
        return Opened::Failed;
    }
    return Opened::Yes;
}

QString LocalText(std::optional<qint64> ms)
{
    return ms ? QDateTime::fromMSecsSinceEpoch(*ms).toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("---");
}

QJsonValue UtcJson(std::optional<qint64> ms)
{
    if (!ms)
        return QJsonValue::Null;
    return QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC).toString(Qt::ISODate);
}

QString SensorName(const CliContext& ctx, int type)
{
    const int index = FindSensorType(ctx.sensors, static_cast<std::uint8_t>(type));
    return index < 0 ? QString::number(type) : QString::fromStdString(ctx.sensors[static_cast<std::size_t>(index)].mName);
}

QString CsvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

std::optional<RZELCFG> ImageConfig(const QByteArray& raw)
{
    if (raw.size() != static_cast<qsizetype>(sizeof(RZELCFG)))
        return std::nullopt;
    RZELCFG cfg{};
    std::memcpy(&cfg, raw.constData(), sizeof cfg);
    return cfg;
}

int CmdHistoryUnits(CliContext& ctx)
{
    const bool csv = TakeFlag(ctx.args, "--csv");
    QString daysText;
    const bool filtered = TakeValue(ctx.args, "--due-within", daysText);
    bool ok = true;
    const int days = filtered ? daysText.toInt(&ok) : duedates::kDefaultDueWithinDays;
    if (!ok || days < 0 || days > 3650) {
        *ctx.err << "history units: --due-within '" << daysText.toStdString() << "' is not a number of days from 0 to 3650\n";
        return kUsageError;
    }
    if (!ctx.args.isEmpty() || (csv && ctx.json))
        return Usage(ctx);
    THistoryStore store;
    const Opened opened = OpenToRead(ctx, store);
    if (opened == Opened::Failed)
        return kFileFailed;
    QString error;
    const std::vector<RUnitRow> units =
        opened == Opened::Yes ? historyqueries::Units(store, error) : std::vector<RUnitRow>{};
    if (!error.isEmpty()) {
        *ctx.err << error.toStdString() << "\n";
        return kFileFailed;
    }
    const int withoutUnit = opened == Opened::Yes ? historyqueries::OperationsWithoutUnit(store, error) : 0;
    if (!error.isEmpty()) {
        *ctx.err << error.toStdString() << "\n";
        return kFileFailed;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QStringList columns{"serial", "userId", "product", "sensor", "firmware", "lastSeen", "lastCalibration",
                              "calibrationDue", "lastBumpTest", "bumpDue", "status"};
    QJsonArray json;
    QByteArray csvText = columns.join(QLatin1Char(',')).toUtf8() + "\n";
    if (!ctx.json && !csv)
        *ctx.out << std::left << std::setw(12) << "Serial" << std::setw(8) << "ID" << std::setw(14) << "Product"
                 << std::setw(10) << "Sensor" << std::setw(9) << "Firmware" << std::setw(18) << "Last seen"
                 << std::setw(18) << "Last calibration" << std::setw(18) << "Calibration due" << std::setw(18)
                 << "Last bump test" << std::setw(18) << "Bump due" << "Status\n";
    for (const RUnitRow& unit : units) {
        duedates::RUnitTimers timers;
        if (const std::optional<RZELCFG> cfg = ImageConfig(unit.latestImage))
            timers = {unit.imageMs, cfg->mSensor.mLastCal, cfg->mSensor.mCalInterval, cfg->mSensor.mLastBump,
                      cfg->mSensor.mBumpInterval};
        else
            timers = {unit.lastSeenMs, duedates::kUnknownTimer + 1, 0, duedates::kUnknownTimer + 1, 0};
        const duedates::RDueDates due =
            duedates::Compute(timers, unit.historyCalMs, unit.historyBumpMs, now, days, QTimeZone::systemTimeZone());
        if (filtered && due.status == duedates::DueStatus::Ok)
            continue;
        const QString status = duedates::StatusText(due.status, days);
        const QStringList values{unit.serial,
                                 unit.userId,
                                 QString::fromStdString(ModelName(static_cast<std::uint8_t>(unit.productId))),
                                 SensorName(ctx, unit.sensorType),
                                 QString::fromStdString(FWVersionText(static_cast<std::uint8_t>(unit.fwVersion))),
                                 LocalText(unit.lastSeenMs),
                                 LocalText(due.lastCalMs),
                                 due.calRequired ? LocalText(due.calDueMs) : QStringLiteral("none"),
                                 LocalText(due.lastBumpMs),
                                 due.bumpRequired ? LocalText(due.bumpDueMs) : QStringLiteral("none"),
                                 status};
        if (ctx.json) {
            json.append(QJsonObject{{"serial", unit.serial},
                                    {"userId", unit.userId},
                                    {"product", values[2]},
                                    {"sensor", values[3]},
                                    {"firmware", values[4]},
                                    {"lastSeen", UtcJson(unit.lastSeenMs)},
                                    {"lastCalibration", UtcJson(due.lastCalMs)},
                                    {"calibrationDue", due.calRequired ? UtcJson(due.calDueMs) : QJsonValue("none")},
                                    {"lastBumpTest", UtcJson(due.lastBumpMs)},
                                    {"bumpDue", due.bumpRequired ? UtcJson(due.bumpDueMs) : QJsonValue("none")},
                                    {"status", status}});
        } else if (csv) {
            QStringList fields;
            for (const QString& value : values)
                fields << CsvField(value);
            csvText += fields.join(QLatin1Char(',')).toUtf8() + "\n";
        } else {
            const int widths[] = {12, 8, 14, 10, 9, 18, 18, 18, 18, 18};
            for (int i = 0; i < 10; ++i)
                *ctx.out << std::setw(widths[i]) << values[i].toStdString();
            *ctx.out << status.toStdString() << "\n";
        }
    }
    if (ctx.json)
        *ctx.out << QJsonDocument(QJsonObject{{"units", json}, {"operationsWithoutUnit", withoutUnit}})
                        .toJson(QJsonDocument::Indented)
                        .toStdString();
    else if (csv)
        *ctx.out << csvText.toStdString();
    else if (withoutUnit > 0)
        *ctx.out << withoutUnit << " operations without a unit (configuration files, and operations that ended "
                 << "before a unit answered; history unit --unknown lists them)\n";
    return 0;
}

std::size_t FieldSize(const FieldInfo& field)
{
    switch (field.kind) {
    case FieldKind::U8:
    case FieldKind::Chars:
        return static_cast<std::size_t>(field.count);
    case FieldKind::U16:
    case FieldKind::I16:
        return 2u * static_cast<std::size_t>(field.count);
    case FieldKind::U32:
    case FieldKind::I32:
        return 4u * static_cast<std::size_t>(field.count);
    }
    return 0;
}

// One field's value as the record tables describe it: numbers as stored,
// characters as text, arrays as "[a,b]".
QString FieldText(const char* block, const FieldInfo& field)
{
    const char* at = block + field.offset;
    if (field.kind == FieldKind::Chars)
        return QString::fromLatin1(at, static_cast<qsizetype>(strnlen(at, static_cast<std::size_t>(field.count))));
    const std::size_t size = FieldSize(field) / static_cast<std::size_t>(field.count);
    QStringList values;
    for (int i = 0; i < field.count; ++i, at += size) {
        switch (field.kind) {
        case FieldKind::U8: values << QString::number(static_cast<std::uint8_t>(*at)); break;
        case FieldKind::U16: values << QString::number(qFromLittleEndian<quint16>(at)); break;
        case FieldKind::I16: values << QString::number(qFromLittleEndian<qint16>(at)); break;
        case FieldKind::U32: values << QString::number(qFromLittleEndian<quint32>(at)); break;
        case FieldKind::I32: values << QString::number(qFromLittleEndian<qint32>(at)); break;
        case FieldKind::Chars: break;
        }
    }
    return field.count == 1 ? values.front() : QLatin1Char('[') + values.join(QLatin1Char(',')) + QLatin1Char(']');
}

// The record fields whose bytes differ, as "name: old -> new".
QStringList Changes(const QByteArray& older, const QByteArray& newer)
{
    QStringList changes;
    if (older.size() != kConfigImageSize || newer.size() != kConfigImageSize || older == newer)
        return changes;
    const std::pair<const std::vector<FieldInfo>*, int> blocks[] = {{&UnitFields(), 0}, {&SensorFields(), 64}};
    for (const auto& [fields, offset] : blocks) {
        const char* a = older.constData() + offset;
        const char* b = newer.constData() + offset;
        for (const FieldInfo& field : *fields) {
            if (field.reserved || std::memcmp(a + field.offset, b + field.offset, FieldSize(field)) == 0)
                continue;
            changes << QString::fromLatin1(field.name) + QStringLiteral(": ") + FieldText(a, field) +
                           QStringLiteral(" -> ") + FieldText(b, field);
        }
    }
    return changes;
}

QByteArray JsonText(const QString& text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00" + QByteArray::number(static_cast<int>(c), 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

QByteArray JsonTime(std::optional<qint64> ms)
{
    return ms ? JsonText(UtcJson(ms).toString()) : QByteArray("null");
}

int CmdHistoryUnit(CliContext& ctx)
{
    const bool unknown = TakeFlag(ctx.args, "--unknown");
    if (ctx.args.size() != (unknown ? 0 : 1))
        return Usage(ctx);
    const QString serial = unknown ? QString() : ctx.args.takeFirst();
    THistoryStore store;
    if (OpenToRead(ctx, store) != Opened::Yes)
        return kFileFailed;
    QString error;
    const std::vector<ROperationView> operations = historyqueries::UnitOperations(store, serial, error);
    if (!error.isEmpty()) {
        *ctx.err << error.toStdString() << "\n";
        return kFileFailed;
    }
    if (operations.empty()) {
        if (unknown)
            return 0;
        *ctx.err << "history unit: the history holds no operation of unit '" << serial.toStdString() << "'\n";
        return kFileFailed;
    }
    // Changes are worked out oldest first: each image against the one before.
    std::vector<QStringList> changes(operations.size());
    QByteArray previous;
    for (std::size_t i = operations.size(); i-- > 0;) {
        for (const auto& [role, raw] : operations[i].images) {
            if (!previous.isEmpty())
                changes[i] << Changes(previous, raw);
            previous = raw;
        }
    }
    // Written as text straight away: a unit's history may hold tens of
    // thousands of operations, and a JSON object per operation would cost
    // more than reading them.
    QByteArray json = "{\n  \"serial\": " + JsonText(serial) + ",\n  \"operations\": [";
    for (std::size_t i = 0; i < operations.size(); ++i) {
        const ROperationView& op = operations[i];
        if (ctx.json) {
            json += i == 0 ? "\n" : ",\n";
            json += "    {\"uuid\": " + JsonText(op.uuid) + ", \"workflow\": " + JsonText(op.workflow) +
                    ", \"started\": " + JsonTime(op.startMs) + ", \"ended\": " + JsonTime(op.endMs) +
                    ", \"status\": " + (op.status ? QByteArray::number(*op.status) : QByteArray("null")) +
                    ", \"statusText\": " + JsonText(op.statusText.trimmed()) + ", \"step\": " + JsonText(op.step) +
                    ", \"station\": " + JsonText(op.station) + ", \"osUser\": " + JsonText(op.osUser) +
                    ", \"toolVersion\": " + JsonText(op.toolVersion) + ", \"changes\": [";
            for (qsizetype c = 0; c < changes[i].size(); ++c)
                json += (c == 0 ? "" : ", ") + JsonText(changes[i][c]);
            json += "]}";
            continue;
        }
        // One line per operation: a status text of several lines is joined.
        const QString said = op.statusText.trimmed().split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QStringLiteral(" / "));
        const QString result = op.status ? QStringLiteral("%1 %2").arg(*op.status).arg(said) : QStringLiteral("interrupted");
        *ctx.out << LocalText(op.startMs).toStdString() << "  " << op.workflow.toStdString() << "  " << result.toStdString()
                 << (op.step.isEmpty() ? "" : "  (step: " + op.step.toStdString() + ")") << "  "
                 << op.osUser.toStdString() << '@' << op.station.toStdString() << "\n";
        for (const QString& change : changes[i])
            *ctx.out << "    " << change.toStdString() << "\n";
    }
    if (ctx.json) {
        json += "\n  ]\n}\n";
        ctx.out->write(json.constData(), json.size());
    }
    return 0;
}

int CmdHistoryEvents(CliContext& ctx)
{
    QString outPath;
    const bool toFile = TakeValue(ctx.args, "--out", outPath);
    if (ctx.args.size() != 1)
        return Usage(ctx);
    const QString serial = ctx.args.takeFirst();
    THistoryStore store;
    if (OpenToRead(ctx, store) != Opened::Yes)
        return kFileFailed;
    QString error;
    const std::vector<RStoredEvent> stored = historyqueries::UnitEvents(store, serial, error);
    const std::optional<RZELCFG> cfg = ImageConfig(historyqueries::LatestImage(store, serial, error));
    if (!error.isEmpty() || !cfg) {
        *ctx.err << (error.isEmpty() ? "history events: the history holds no configuration of unit '" +
                                           serial.toStdString() + "'"
                                     : error.toStdString())
                 << "\n";
        return kFileFailed;
    }
    std::vector<std::pair<RZELEvent, std::optional<qint64>>> events;
    events.reserve(stored.size());
    for (const RStoredEvent& event : stored) {
        RZELEvent record{};
        std::memcpy(&record, event.raw.constData(), std::min<std::size_t>(sizeof record, event.raw.size()));
        events.emplace_back(record, event.calendarMs);
    }
    // Oldest first, as the unit's own log is saved.
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return a.first.mStartEvent > b.first.mStartEvent; });
    QByteArray file = eventlog::EventLogCsv(std::vector<RZELEvent>{}, cfg->mUnit, QDateTime::currentDateTime());
    for (const auto& [event, calendarMs] : events) {
        // Dated by the time worked out at its first download.
        const std::string line =
            calendarMs ? eventlog::EventLine(event, event.mStartEvent, QDateTime::fromMSecsSinceEpoch(*calendarMs))
                       : eventlog::EventLine(event, event.mStartEvent + 1u, QDateTime::currentDateTime());
        file.append(line.data(), static_cast<qsizetype>(line.size()));
        file.append("\r\n");
    }
    if (!toFile) {
        ctx.out->write(file.constData(), file.size());
        return 0;
    }
    if (!WriteFileWhole(outPath, file)) {
        *ctx.err << "history events: failed to write the file " << outPath.toStdString() << "\n";
        return kFileFailed;
    }
    return 0;
}

int CmdHistorySync(CliContext& ctx)
{
    if (!ctx.args.isEmpty())
        return Usage(ctx);
    const std::optional<RHistoryLocation> location = Location(ctx);
    if (!location)
        return kUsageError;
    if (location->engine == HistoryEngine::Sqlite) {
        *ctx.out << "history sync: the history is the station file " << location->sqlitePath.toStdString()
                 << "; nothing to send\n";
        return 0;
    }
    THistorySink sink(*location);
    const RSyncResult result = sink.Sync();
    *ctx.out << "history sync: sent " << result.sentOperations << " operations; " << result.waiting
             << " records waiting\n";
    if (!result.problem.isEmpty()) {
        *ctx.err << result.problem.toStdString() << "\n";
        return kFileFailed;
    }
    return 0;
}

int CmdHistoryVerify(CliContext& ctx)
{
    if (!ctx.args.isEmpty())
        return Usage(ctx);
    THistoryStore store;
    const Opened opened = OpenToRead(ctx, store);
    if (opened != Opened::Yes)
        return opened == Opened::NoHistoryYet ? 0 : kFileFailed;
    QString error;
    const std::optional<QString> finding = historyqueries::Verify(store, error);
    if (!error.isEmpty()) {
        *ctx.err << error.toStdString() << "\n";
        return kFileFailed;
    }
    if (finding) {
        *ctx.out << "history verify: " << finding->toStdString() << "\n";
        return kVerifyFailed;
    }
    *ctx.out << "history verify: the audit chain is whole\n";
    return 0;
}

}  // namespace

void PrintDueDates(std::ostream& out, const RZELCFG& cfg)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const duedates::RDueDates due =
        duedates::Compute({now, cfg.mSensor.mLastCal, cfg.mSensor.mCalInterval, cfg.mSensor.mLastBump,
                           cfg.mSensor.mBumpInterval},
                          std::nullopt, std::nullopt, now, duedates::kDefaultDueWithinDays, QTimeZone::systemTimeZone());
    out << "Calibration due: " << (due.calRequired ? LocalText(due.calDueMs) : QStringLiteral("none")).toStdString()
        << ", bump test due: " << (due.bumpRequired ? LocalText(due.bumpDueMs) : QStringLiteral("none")).toStdString()
        << ", status: " << duedates::StatusText(due.status, duedates::kDefaultDueWithinDays).toStdString() << "\n";
}

bool CommandRecordsHistory(const QString& command)
{
    static const QStringList kDeviceCommands{"identify", "read",     "write",   "hibernate", "test",     "eeprom",
                                             "eventlog", "logreset", "upgrade", "log",       "calibrate", "bump"};
    return kDeviceCommands.contains(command);
}

int CmdHistory(CliContext& ctx)
{
    if (ctx.args.isEmpty())
        return Usage(ctx);
    const QString sub = ctx.args.takeFirst();
    if (sub == QLatin1String("units"))
        return CmdHistoryUnits(ctx);
    if (sub == QLatin1String("unit"))
        return CmdHistoryUnit(ctx);
    if (sub == QLatin1String("events"))
        return CmdHistoryEvents(ctx);
    if (sub == QLatin1String("sync"))
        return CmdHistorySync(ctx);
    if (sub == QLatin1String("verify"))
        return CmdHistoryVerify(ctx);
    if (sub == QLatin1String("certificate"))
        return CmdHistoryCertificate(ctx);
    if (sub == QLatin1String("verify-certificate"))
        return CmdHistoryVerifyCertificate(ctx);
    if (sub == QLatin1String("report"))
        return CmdHistoryReport(ctx);
    *ctx.err << "history: unknown subcommand '" << sub.toStdString() << "'\n";
    return Usage(ctx);
}
