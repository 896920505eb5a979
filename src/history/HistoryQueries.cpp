#include "HistoryQueries.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <map>

namespace historyqueries {
namespace {

bool Run(QSqlQuery& query, const QString& sql, QString& error, const QVariantList& values = {})
{
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    error = QStringLiteral("Failed to read the history: %1").arg(query.lastError().text());
    return false;
}

std::optional<qint64> OptMs(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<qint64>(value.toLongLong());
}

int RoleOrder(const QString& role)
{
    return role == QLatin1String("before") ? 0 : role == QLatin1String("read") ? 1 : 2;
}

}  // namespace

std::vector<RUnitRow> Units(THistoryStore& store, QString& error)
{
    std::map<QString, RUnitRow> units;
    QSqlQuery query(store.Db());
    if (!Run(query,
             QStringLiteral("SELECT o.serial, o.product_id, o.sensor_type, o.fw_version, o.user_id, o.at_ms"
                            " FROM operations o JOIN (SELECT serial, MAX(seq) AS seq FROM operations"
                            " WHERE kind = 'end' AND serial <> '' GROUP BY serial) l ON o.seq = l.seq"),
             error))
        return {};
    while (query.next()) {
        RUnitRow& u = units[query.value(0).toString()];
        u.serial = query.value(0).toString();
        u.productId = query.value(1).toInt();
        u.sensorType = query.value(2).toInt();
        u.fwVersion = query.value(3).toInt();
        u.userId = query.value(4).toString();
        u.lastSeenMs = query.value(5).toLongLong();
    }
    // The latest image of each unit; as found sorts before as left.
    if (!Run(query,
             QStringLiteral("SELECT i.serial, i.at_ms, i.role, c.raw FROM operation_images i"
                            " JOIN (SELECT serial, MAX(at_ms) AS at_ms FROM operation_images GROUP BY serial) l"
                            " ON i.serial = l.serial AND i.at_ms = l.at_ms JOIN config_images c ON c.sha256 = i.image_sha256"),
             error))
        return {};
    std::map<QString, int> roleTaken;
    while (query.next()) {
        const auto found = units.find(query.value(0).toString());
        if (found == units.end())
            continue;
        const int order = RoleOrder(query.value(2).toString());
        int& taken = roleTaken[found->first];
        if (!found->second.latestImage.isEmpty() && order < taken)
            continue;
        taken = order;
        found->second.imageMs = query.value(1).toLongLong();
        found->second.latestImage = query.value(3).toByteArray();
    }
    if (!Run(query, QStringLiteral("SELECT serial, MAX(at_ms) FROM calibrations WHERE status = 0 GROUP BY serial"), error))
        return {};
    while (query.next())
        if (const auto found = units.find(query.value(0).toString()); found != units.end())
            found->second.historyCalMs = query.value(1).toLongLong();
    if (!Run(query, QStringLiteral("SELECT serial, MAX(at_ms) FROM bump_tests WHERE result = 'pass' GROUP BY serial"), error))
        return {};
    while (query.next())
        if (const auto found = units.find(query.value(0).toString()); found != units.end())
            found->second.historyBumpMs = query.value(1).toLongLong();
    std::vector<RUnitRow> rows;
    rows.reserve(units.size());
    for (auto& [serial, row] : units)
        rows.push_back(std::move(row));
    return rows;
}

RServiceDates LatestService(THistoryStore& store, const QString& serial, QString& error)
{
    RServiceDates dates;
    QSqlQuery query(store.Db());
    if (Run(query,
            QStringLiteral("SELECT (SELECT MAX(at_ms) FROM calibrations WHERE serial = ? AND status = 0),"
                           " (SELECT MAX(at_ms) FROM bump_tests WHERE serial = ? AND result = 'pass')"),
            error, {serial, serial}) &&
        query.next()) {
        dates.calibrationMs = OptMs(query.value(0));
        dates.bumpTestMs = OptMs(query.value(1));
    }
    return dates;
}

int OperationsWithoutUnit(THistoryStore& store, QString& error)
{
    QSqlQuery query(store.Db());
    if (!Run(query, QStringLiteral("SELECT COUNT(*) FROM operations WHERE kind = 'end' AND (serial IS NULL OR serial = '')"),
             error) ||
        !query.next())
        return 0;
    return query.value(0).toInt();
}

std::vector<ROperationView> UnitOperations(THistoryStore& store, const QString& serial, QString& error)
{
    std::vector<ROperationView> operations;
    QHash<QString, std::size_t> byUuid;
    QSqlQuery query(store.Db());
    if (!Run(query,
             QStringLiteral("SELECT e.op_uuid, s.workflow, s.station, s.os_user, s.tool_version, s.at_ms, e.at_ms,"
                            " e.status, e.status_text, e.step FROM operations e"
                            " LEFT JOIN operations s ON s.op_uuid = e.op_uuid AND s.kind = 'start'"
                            " WHERE e.kind = 'end' AND %1 ORDER BY e.seq DESC")
                 .arg(serial.isEmpty() ? QStringLiteral("(e.serial IS NULL OR e.serial = '')")
                                       : QStringLiteral("e.serial = ?")),
             error, serial.isEmpty() ? QVariantList{} : QVariantList{serial}))
        return {};
    while (query.next()) {
        ROperationView op;
        op.uuid = query.value(0).toString();
        op.workflow = query.value(1).toString();
        op.station = query.value(2).toString();
        op.osUser = query.value(3).toString();
        op.toolVersion = query.value(4).toString();
        op.startMs = query.value(5).isNull() ? query.value(6).toLongLong() : query.value(5).toLongLong();
        op.endMs = OptMs(query.value(6));
        if (!query.value(7).isNull())
            op.status = query.value(7).toInt();
        op.statusText = query.value(8).toString();
        op.step = query.value(9).toString();
        byUuid[op.uuid] = operations.size();
        operations.push_back(std::move(op));
    }
    // A unit's images repeat (every read of an unchanged unit refers to the
    // same one): each one's bytes are fetched once, not once per operation.
    QHash<QString, QByteArray> raws;
    if (!Run(query,
             QStringLiteral("SELECT sha256, raw FROM config_images WHERE sha256 IN"
                            " (SELECT image_sha256 FROM operation_images WHERE serial = ?)"),
             error, {serial}))
        return {};
    while (query.next())
        raws.insert(query.value(0).toString(), query.value(1).toByteArray());
    if (!Run(query,
             QStringLiteral("SELECT op_uuid, role, image_sha256 FROM operation_images WHERE serial = ? ORDER BY at_ms"),
             error, {serial}))
        return {};
    while (query.next())
        if (const auto found = byUuid.constFind(query.value(0).toString()); found != byUuid.constEnd())
            operations[*found].images.emplace_back(query.value(1).toString(), raws.value(query.value(2).toString()));
    for (ROperationView& op : operations)
        std::stable_sort(op.images.begin(), op.images.end(),
                         [](const auto& a, const auto& b) { return RoleOrder(a.first) < RoleOrder(b.first); });
    return operations;
}

QByteArray LatestImage(THistoryStore& store, const QString& serial, QString& error)
{
    QSqlQuery query(store.Db());
    if (!Run(query,
             QStringLiteral("SELECT i.role, c.raw FROM operation_images i JOIN config_images c ON c.sha256 = i.image_sha256"
                            " WHERE i.serial = ? AND i.at_ms = (SELECT MAX(at_ms) FROM operation_images WHERE serial = ?)"),
             error, {serial, serial}))
        return {};
    QByteArray latest;
    int taken = -1;
    while (query.next()) {
        if (const int order = RoleOrder(query.value(0).toString()); order > taken) {
            taken = order;
            latest = query.value(1).toByteArray();
        }
    }
    return latest;
}

std::vector<RStoredEvent> UnitEvents(THistoryStore& store, const QString& serial, QString& error)
{
    std::vector<RStoredEvent> events;
    QSqlQuery query(store.Db());
    if (!Run(query, QStringLiteral("SELECT raw, calendar_ms FROM events WHERE serial = ?"), error, {serial}))
        return {};
    while (query.next())
        events.push_back({query.value(0).toByteArray(), OptMs(query.value(1))});
    return events;
}

std::optional<QString> Verify(THistoryStore& store, QString& error)
{
    const std::vector<ROperationRow> rows = store.ChainRows(error);
    if (!error.isEmpty())
        return std::nullopt;
    if (const auto finding = auditchain::Walk(rows))
        return finding->message;
    QSqlQuery query(store.Db());
    if (!Run(query, QStringLiteral("SELECT sha256, raw FROM config_images"), error))
        return std::nullopt;
    while (query.next()) {
        const QString sha = query.value(0).toString();
        if (QCryptographicHash::hash(query.value(1).toByteArray(), QCryptographicHash::Sha256).toHex() != sha.toLatin1())
            return QStringLiteral("configuration image %1 was changed: its bytes no longer give its hash").arg(sha);
    }
    // A record whose hash the chain holds must still give that hash; one
    // kept before the records joined the chain, at least its own stored one.
    if (!Run(query,
             QStringLiteral("SELECT t.op_uuid, t.record, t.sha256, o.record_sha256 FROM test_records t"
                            " LEFT JOIN operations o ON o.op_uuid = t.op_uuid AND o.kind = 'end'"),
             error))
        return std::nullopt;
    while (query.next()) {
        const QByteArray hash =
            QCryptographicHash::hash(query.value(1).toString().toUtf8(), QCryptographicHash::Sha256).toHex();
        const QString chained = query.value(3).toString();
        const QString expected = chained.isEmpty() ? query.value(2).toString() : chained;
        if (hash != expected.toLatin1() || (!chained.isEmpty() && query.value(2).toString() != chained))
            return QStringLiteral("the test record of operation %1 was changed: it no longer gives its hash %2")
                .arg(query.value(0).toString(), expected);
    }
    return std::nullopt;
}

namespace {

RStoredTest StoredTest(const QSqlQuery& query)
{
    return {query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
            query.value(3).toString(), query.value(4).toString(), query.value(5).toLongLong(),
            query.value(6).toString().toUtf8()};
}

}  // namespace

std::optional<RStoredTest> TestRecord(THistoryStore& store, const QString& opUuid, QString& error)
{
    QString bare = opUuid.trimmed().toLower();
    bare.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    QSqlQuery query(store.Db());
    // The hash is the one the audit chain holds, where it holds one: a record
    // edited together with its stored hash does not pass for the original.
    query.prepare(QStringLiteral("SELECT t.op_uuid, t.kind, t.serial, t.result, COALESCE(o.record_sha256, t.sha256),"
                                 " t.at_ms, t.record FROM test_records t"
                                 " LEFT JOIN operations o ON o.op_uuid = t.op_uuid AND o.kind = 'end'"
                                 " WHERE lower(t.op_uuid) = ? OR lower(t.op_uuid) = ?"));
    query.addBindValue(bare);
    query.addBindValue(QLatin1Char('{') + bare + QLatin1Char('}'));
    if (!query.exec()) {
        error = query.lastError().text();
        return std::nullopt;
    }
    if (!query.next())
        return std::nullopt;
    return StoredTest(query);
}

std::vector<RStoredTest> LatestTests(THistoryStore& store, QString& error)
{
    QSqlQuery query(store.Db());
    std::vector<RStoredTest> tests;
    if (!Run(query,
             QStringLiteral("SELECT t.op_uuid, t.kind, t.serial, t.result, t.sha256, t.at_ms, t.record FROM test_records t"
                            " JOIN (SELECT serial, kind, MAX(at_ms) AS at_ms FROM test_records GROUP BY serial, kind) l"
                            " ON t.serial = l.serial AND t.kind = l.kind AND t.at_ms = l.at_ms"),
             error))
        return tests;
    while (query.next())
        tests.push_back(StoredTest(query));
    return tests;
}

}  // namespace historyqueries
