#include "HistoryStore.h"

#include <cmath>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <QtEndian>

#include "HistorySchema.h"
#include "HistoryTransaction.h"

namespace {

// Window and command line write into one station file at the same time; a
// writer waits this long for the other's transaction.
const QString kSqliteOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000");

QVariant Opt(const std::optional<int>& value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

std::optional<int> OptFrom(const QVariant& value)
{
    if (value.isNull())
        return std::nullopt;
    return value.toInt();
}

QString Failed(const QString& what, const QSqlQuery& query)
{
    return QStringLiteral("Failed to %1: %2").arg(what, query.lastError().text());
}

QString Uuid(const QUuid& uuid)
{
    return uuid.toString(QUuid::WithoutBraces);
}

}  // namespace

THistoryStore::THistoryStore() : FName(QStringLiteral("history-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

THistoryStore::~THistoryStore()
{
    Close();
}

void THistoryStore::Close()
{
    if (FDb.isValid()) {
        FDb.close();
        FDb = QSqlDatabase();
        QSqlDatabase::removeDatabase(FName);
    }
}

bool THistoryStore::Open(const RHistoryLocation& location, QString& error, int schemaVersion)
{
    Close();
    FLocation = location;
    if (location.engine == HistoryEngine::Sqlite) {
        const QFileInfo file(location.sqlitePath);
        if (!QDir().mkpath(file.absolutePath())) {
            error = QStringLiteral("Failed to create the folder %1 for the history").arg(file.absolutePath());
            return false;
        }
        FDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FName);
        FDb.setDatabaseName(location.sqlitePath);
        FDb.setConnectOptions(kSqliteOptions);
    } else {
        FDb = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), FName);
        FDb.setHostName(location.host);
        if (location.port > 0)
            FDb.setPort(location.port);
        FDb.setDatabaseName(location.database);
        FDb.setUserName(location.user);
        // Empty: libpq looks in PGPASSWORD and ~/.pgpass itself.
        FDb.setPassword(location.password);
        FDb.setConnectOptions(location.connectOptions);
    }
    if (!FDb.isValid()) {
        error = QStringLiteral("Failed to load the Qt SQL driver for %1 (install libqt6sql6-sqlite and libqt6sql6-psql)")
                    .arg(location.Display());
        Close();
        return false;
    }
    if (!FDb.open()) {
        error = QStringLiteral("Failed to open the history database %1: %2")
                    .arg(location.Display(), FDb.lastError().text().trimmed());
        Close();
        return false;
    }
    // A newer schema is refused before anything, the journal mode included,
    // is changed.
    QString migrateError;
    if (historyschema::CurrentVersion(FDb, migrateError) > historyschema::LatestVersion()) {
        historyschema::Migrate(FDb, location.engine, migrateError, schemaVersion);
        error = QStringLiteral("The history database %1 cannot be used: %2").arg(location.Display(), migrateError);
        Close();
        return false;
    }
    if (location.engine == HistoryEngine::Sqlite) {
        QSqlQuery pragma(FDb);
        pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        // In WAL mode NORMAL keeps the file consistent through any crash of
        // the program and loses at most the last records to a power cut; FULL
        // would add a disk flush to every record.
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }
    if (!historyschema::Migrate(FDb, location.engine, migrateError, schemaVersion)) {
        error = QStringLiteral("The history database %1 cannot be used: %2").arg(location.Display(), migrateError);
        Close();
        return false;
    }
    return true;
}

std::optional<bool> THistoryStore::RowExists(const QString& opUuid, const QString& kind, QString& error)
{
    QSqlQuery query(FDb);
    query.prepare(QStringLiteral("SELECT 1 FROM operations WHERE op_uuid = ? AND kind = ?"));
    query.addBindValue(opUuid);
    query.addBindValue(kind);
    if (!query.exec()) {
        error = Failed(QStringLiteral("look up an operation"), query);
        return std::nullopt;
    }
    return query.next();
}

std::optional<qint64> THistoryStore::StartOf(const QString& opUuid)
{
    QSqlQuery query(FDb);
    query.prepare(QStringLiteral("SELECT at_ms FROM operations WHERE op_uuid = ? AND kind = 'start'"));
    query.addBindValue(opUuid);
    if (query.exec() && query.next())
        return query.value(0).toLongLong();
    return std::nullopt;
}

bool THistoryStore::AppendChainRow(ROperationRow& row, QString& error)
{
    QSqlQuery last(FDb);
    if (!last.exec(QStringLiteral("SELECT seq, row_hash FROM operations ORDER BY seq DESC LIMIT 1"))) {
        error = Failed(QStringLiteral("read the end of the audit chain"), last);
        return false;
    }
    row.seq = 1;
    row.prevHash = auditchain::GenesisHash();
    if (last.next()) {
        row.seq = last.value(0).toLongLong() + 1;
        row.prevHash = last.value(1).toString();
    }
    row.rowHash = auditchain::RowHash(row);
    QSqlQuery insert(FDb);
    insert.prepare(QStringLiteral(
        "INSERT INTO operations (seq, op_uuid, kind, at_ms, workflow, station, os_user, tool_version, serial,"
        " product_id, hw_version, fw_version, sensor_type, user_id, status, status_text, step, prev_hash, row_hash,"
        " record_sha256) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant& value :
         {QVariant(row.seq), QVariant(row.opUuid), QVariant(row.kind), QVariant(row.atMs), QVariant(row.workflow),
          QVariant(row.station), QVariant(row.osUser), QVariant(row.toolVersion), QVariant(row.serial),
          Opt(row.productId), Opt(row.hwVersion), Opt(row.fwVersion), Opt(row.sensorType), QVariant(row.userId),
          Opt(row.status), QVariant(row.statusText), QVariant(row.step), QVariant(row.prevHash), QVariant(row.rowHash),
          row.recordSha256.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(row.recordSha256)})
        insert.addBindValue(value);
    if (!insert.exec()) {
        error = Failed(QStringLiteral("append to the operations"), insert);
        return false;
    }
    return true;
}

AppendResult THistoryStore::AppendStart(const ROperationStart& start, QString& error)
{
    THistoryTransaction transaction(FDb, Engine());
    if (!transaction.Begin(error))
        return AppendResult::Failed;
    const QString uuid = Uuid(start.uuid);
    const std::optional<bool> exists = RowExists(uuid, QStringLiteral("start"), error);
    if (!exists)
        return AppendResult::Failed;
    if (*exists)
        return AppendResult::AlreadyStored;
    ROperationRow row;
    row.opUuid = uuid;
    row.kind = QStringLiteral("start");
    row.atMs = start.startedMs;
    row.workflow = start.workflow;
    row.station = start.station;
    row.osUser = start.osUser;
    row.toolVersion = start.toolVersion;
    if (!AppendChainRow(row, error) || !transaction.Commit(error))
        return AppendResult::Failed;
    return AppendResult::Stored;
}

bool THistoryStore::StoreImages(const ROperationEnd& end, qint64 startMs, QString& error)
{
    QSqlQuery image(FDb);
    image.prepare(QStringLiteral("INSERT INTO config_images (sha256, raw, unit_crc_ok, sensor_crc_ok) VALUES (?, ?, ?, ?)"
                                 " ON CONFLICT (sha256) DO NOTHING"));
    QSqlQuery link(FDb);
    link.prepare(QStringLiteral("INSERT INTO operation_images (op_uuid, role, serial, at_ms, image_sha256, file_path)"
                                " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (op_uuid, role) DO NOTHING"));
    for (const RConfigImage& taken : end.images) {
        const QString sha =
            QString::fromLatin1(QCryptographicHash::hash(taken.raw, QCryptographicHash::Sha256).toHex());
        image.addBindValue(sha);
        image.addBindValue(taken.raw);
        image.addBindValue(taken.unitCrcOk ? 1 : 0);
        image.addBindValue(taken.sensorCrcOk ? 1 : 0);
        if (!image.exec()) {
            error = Failed(QStringLiteral("store a configuration image"), image);
            return false;
        }
        link.addBindValue(Uuid(end.uuid));
        link.addBindValue(taken.role);
        link.addBindValue(end.unit ? end.unit->serial : QStringLiteral(""));
        // As found is the unit before the operation, as left after it.
        link.addBindValue(taken.role == QLatin1String("before") ? startMs : end.endedMs);
        link.addBindValue(sha);
        link.addBindValue(taken.filePath.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(taken.filePath));
        if (!link.exec()) {
            error = Failed(QStringLiteral("refer to a configuration image"), link);
            return false;
        }
    }
    return true;
}

bool THistoryStore::StoreEvents(const ROperationEnd& end, QString& error)
{
    if (!end.events || !end.unit)
        return true;
    const REventDownload& download = *end.events;
    QSqlQuery insert(FDb);
    insert.prepare(QStringLiteral("INSERT INTO events (serial, raw, start_stamp, duration, flags, reading, first_op_uuid,"
                                  " calendar_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (serial, raw) DO NOTHING"));
    const QString uuid = Uuid(end.uuid);
    for (qsizetype at = 0; at + kEventRecordSize <= download.records.size(); at += kEventRecordSize) {
        const QByteArray raw = download.records.mid(at, kEventRecordSize);
        const auto* bytes = reinterpret_cast<const uchar*>(raw.constData());
        const std::uint32_t stamp = qFromLittleEndian<quint32>(bytes);
        // The age of an event is its stamp less the life counter now; a stamp
        // below it was made before the unit was given a new life.
        const QVariant calendar = stamp >= download.lifeRemaining
                                      ? QVariant(download.downloadedMs -
                                                 static_cast<qint64>(stamp - download.lifeRemaining) * 1000)
                                      : QVariant(QMetaType(QMetaType::LongLong));
        insert.addBindValue(end.unit->serial);
        insert.addBindValue(raw);
        insert.addBindValue(static_cast<qint64>(stamp));
        insert.addBindValue(qFromLittleEndian<quint16>(bytes + 4));
        insert.addBindValue(bytes[6]);
        insert.addBindValue(qFromLittleEndian<qint16>(bytes + 7));
        insert.addBindValue(uuid);
        insert.addBindValue(calendar);
        if (!insert.exec()) {
            error = Failed(QStringLiteral("store an event"), insert);
            return false;
        }
    }
    return true;
}

bool THistoryStore::StoreExtras(const ROperationEnd& end, QString& error)
{
    const QString uuid = Uuid(end.uuid);
    const QString serial = end.unit ? end.unit->serial : QString();
    QSqlQuery query(FDb);
    if (end.firmware) {
        query.prepare(QStringLiteral("INSERT INTO firmware_upgrades (op_uuid, serial, image_crc, version_before,"
                                     " version_after, packets_resent, attempts) VALUES (?, ?, ?, ?, ?, ?, ?)"
                                     " ON CONFLICT (op_uuid) DO NOTHING"));
        for (const QVariant& value : {QVariant(uuid), QVariant(serial), QVariant(static_cast<qint64>(end.firmware->imageCrc)),
                                      QVariant(end.firmware->versionBefore), QVariant(end.firmware->versionAfter),
                                      QVariant(end.firmware->packetsResent), QVariant(end.firmware->attempts)})
            query.addBindValue(value);
        if (!query.exec()) {
            error = Failed(QStringLiteral("store the firmware upgrade"), query);
            return false;
        }
    }
    if (end.calibration) {
        query.prepare(QStringLiteral("INSERT INTO calibrations (op_uuid, serial, at_ms, span_gas, result, status)"
                                     " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (op_uuid) DO NOTHING"));
        for (const QVariant& value : {QVariant(uuid), QVariant(serial), QVariant(end.endedMs),
                                      QVariant(end.calibration->spanGas), QVariant(end.calibration->result),
                                      QVariant(end.calibration->status)})
            query.addBindValue(value);
        if (!query.exec()) {
            error = Failed(QStringLiteral("store the calibration"), query);
            return false;
        }
    }
    if (end.test && !StoreTest(end, error))
        return false;
    if (end.unit && !end.unit->serial.isEmpty()) {
        query.prepare(QStringLiteral("INSERT INTO units (serial, first_seen_ms) VALUES (?, ?) ON CONFLICT (serial) DO NOTHING"));
        query.addBindValue(end.unit->serial);
        query.addBindValue(end.endedMs);
        if (!query.exec()) {
            error = Failed(QStringLiteral("store the unit"), query);
            return false;
        }
    }
    return true;
}

bool THistoryStore::StoreTest(const ROperationEnd& end, QString& error)
{
    const QString uuid = Uuid(end.uuid);
    const QString serial = end.unit ? end.unit->serial : QString();
    QSqlQuery query(FDb);
    query.prepare(QStringLiteral("INSERT INTO test_records (op_uuid, kind, serial, at_ms, result, record, sha256)"
                                 " VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (op_uuid) DO NOTHING"));
    for (const QVariant& value : {QVariant(uuid), QVariant(end.test->kind), QVariant(serial), QVariant(end.endedMs),
                                  QVariant(end.test->result), QVariant(QString::fromUtf8(end.test->json)),
                                  QVariant(end.test->sha256)})
        query.addBindValue(value);
    if (!query.exec()) {
        error = Failed(QStringLiteral("store the test record"), query);
        return false;
    }
    if (end.test->kind != QStringLiteral("bump test") || serial.isEmpty())
        return true;
    // The unit's bump tests, as the due dates read them: "pass" or "fail".
    const QJsonObject record = QJsonDocument::fromJson(end.test->json).object();
    const QJsonObject gas = record.value(QStringLiteral("gas")).toObject();
    const QJsonObject unit = record.value(QStringLiteral("unit")).toObject();
    const QString result = end.test->result == QStringLiteral("PASSED")   ? QStringLiteral("pass")
                           : end.test->result == QStringLiteral("FAILED") ? QStringLiteral("fail")
                                                                          : end.test->result.toLower();
    query.prepare(QStringLiteral("INSERT INTO bump_tests (uuid, op_uuid, serial, at_ms, gas, concentration, result)"
                                 " VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (uuid) DO NOTHING"));
    for (const QVariant& value :
         {QVariant(uuid), QVariant(uuid), QVariant(serial), QVariant(end.endedMs),
          QVariant(unit.value(QStringLiteral("sensorName")).toString()),
          QVariant(static_cast<int>(std::lround(gas.value(QStringLiteral("concentration")).toDouble() * 10))),
          QVariant(result)})
        query.addBindValue(value);
    if (!query.exec()) {
        error = Failed(QStringLiteral("store the bump test"), query);
        return false;
    }
    return true;
}

AppendResult THistoryStore::AppendEnd(const ROperationEnd& end, QString& error)
{
    THistoryTransaction transaction(FDb, Engine());
    if (!transaction.Begin(error))
        return AppendResult::Failed;
    const QString uuid = Uuid(end.uuid);
    const std::optional<bool> exists = RowExists(uuid, QStringLiteral("end"), error);
    if (!exists)
        return AppendResult::Failed;
    if (*exists)
        return AppendResult::AlreadyStored;
    const qint64 startMs = StartOf(uuid).value_or(end.endedMs);
    if (!StoreImages(end, startMs, error) || !StoreEvents(end, error) || !StoreExtras(end, error))
        return AppendResult::Failed;
    ROperationRow row;
    row.opUuid = uuid;
    row.kind = QStringLiteral("end");
    row.atMs = end.endedMs;
    if (end.unit) {
        row.serial = end.unit->serial;
        row.productId = end.unit->productId;
        row.hwVersion = end.unit->hwVersion;
        row.fwVersion = end.unit->fwVersion;
        row.sensorType = end.unit->sensorType;
        row.userId = end.unit->userId;
    }
    row.status = end.status;
    row.statusText = end.statusText;
    row.step = end.step;
    if (end.test)
        row.recordSha256 = end.test->sha256;
    if (!AppendChainRow(row, error) || !transaction.Commit(error))
        return AppendResult::Failed;
    return AppendResult::Stored;
}

std::vector<ROperationRow> THistoryStore::ChainRows(QString& error)
{
    std::vector<ROperationRow> rows;
    QSqlQuery query(FDb);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT seq, op_uuid, kind, at_ms, workflow, station, os_user, tool_version, serial, product_id, hw_version,"
            " fw_version, sensor_type, user_id, status, status_text, step, prev_hash, row_hash, record_sha256"
            " FROM operations ORDER BY seq"))) {
        error = Failed(QStringLiteral("read the operations"), query);
        return rows;
    }
    while (query.next()) {
        ROperationRow r;
        r.seq = query.value(0).toLongLong();
        r.opUuid = query.value(1).toString();
        r.kind = query.value(2).toString();
        r.atMs = query.value(3).toLongLong();
        r.workflow = query.value(4).toString();
        r.station = query.value(5).toString();
        r.osUser = query.value(6).toString();
        r.toolVersion = query.value(7).toString();
        r.serial = query.value(8).toString();
        r.productId = OptFrom(query.value(9));
        r.hwVersion = OptFrom(query.value(10));
        r.fwVersion = OptFrom(query.value(11));
        r.sensorType = OptFrom(query.value(12));
        r.userId = query.value(13).toString();
        r.status = OptFrom(query.value(14));
        r.statusText = query.value(15).toString();
        r.step = query.value(16).toString();
        r.prevHash = query.value(17).toString();
        r.rowHash = query.value(18).toString();
        r.recordSha256 = query.value(19).toString();
        rows.push_back(std::move(r));
    }
    return rows;
}
