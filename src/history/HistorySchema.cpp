#include "HistorySchema.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <vector>

#include "HistoryTransaction.h"

namespace historyschema {
namespace {

// Written once for both engines; the few words they spell differently are
// filled in per engine.
struct Migration {
    int version;
    std::vector<const char*> statements;
};

const std::vector<Migration>& Migrations()
{
    static const std::vector<Migration> migrations = {
        {1,
         {"CREATE TABLE units (serial TEXT PRIMARY KEY, first_seen_ms BIGINT NOT NULL)",
          // The audit chain: starts and ends of operations, appended only.
          "CREATE TABLE operations ("
          " seq BIGINT PRIMARY KEY, op_uuid TEXT NOT NULL, kind TEXT NOT NULL, at_ms BIGINT NOT NULL,"
          " workflow TEXT, station TEXT, os_user TEXT, tool_version TEXT,"
          " serial TEXT, product_id INTEGER, hw_version INTEGER, fw_version INTEGER, sensor_type INTEGER,"
          " user_id TEXT, status INTEGER, status_text TEXT, step TEXT,"
          " prev_hash TEXT NOT NULL, row_hash TEXT NOT NULL, UNIQUE (op_uuid, kind))",
          "CREATE INDEX operations_unit ON operations (serial, seq)",
          // Keyed by the SHA-256 of their bytes: an image seen again is referred to.
          "CREATE TABLE config_images (sha256 TEXT PRIMARY KEY, raw {BLOB} NOT NULL,"
          " unit_crc_ok INTEGER NOT NULL, sensor_crc_ok INTEGER NOT NULL)",
          "CREATE TABLE operation_images (op_uuid TEXT NOT NULL, role TEXT NOT NULL, serial TEXT NOT NULL,"
          " at_ms BIGINT NOT NULL, image_sha256 TEXT NOT NULL, PRIMARY KEY (op_uuid, role))",
          "CREATE INDEX operation_images_unit ON operation_images (serial, at_ms)",
          // A record's own bytes identify it: downloaded again, it is kept once.
          "CREATE TABLE events (serial TEXT NOT NULL, raw {BLOB} NOT NULL, start_stamp BIGINT NOT NULL,"
          " duration INTEGER NOT NULL, flags INTEGER NOT NULL, reading INTEGER NOT NULL,"
          " first_op_uuid TEXT NOT NULL, calendar_ms BIGINT, PRIMARY KEY (serial, raw))",
          "CREATE TABLE firmware_upgrades (op_uuid TEXT PRIMARY KEY, serial TEXT, image_crc BIGINT NOT NULL,"
          " version_before INTEGER NOT NULL, version_after INTEGER NOT NULL, packets_resent INTEGER NOT NULL,"
          " attempts INTEGER NOT NULL)",
          "CREATE TABLE calibrations (op_uuid TEXT PRIMARY KEY, serial TEXT, at_ms BIGINT NOT NULL,"
          " span_gas INTEGER NOT NULL, result TEXT NOT NULL, status INTEGER NOT NULL)",
          // Records that wait for the site server (used in the station's file).
          "CREATE TABLE spool (entry_key TEXT PRIMARY KEY, queued_ms BIGINT NOT NULL, payload TEXT NOT NULL)"}},
        {2,
         {"CREATE TABLE bump_tests (uuid TEXT PRIMARY KEY, op_uuid TEXT, serial TEXT NOT NULL, at_ms BIGINT NOT NULL,"
          " gas TEXT NOT NULL, concentration INTEGER NOT NULL, result TEXT NOT NULL)",
          "CREATE INDEX bump_tests_unit ON bump_tests (serial, at_ms)",
          "CREATE INDEX calibrations_unit ON calibrations (serial, at_ms)"}},
        {3,
         // The whole record of a bump test or guided calibration, as its
         // certificate carries it.
         {"CREATE TABLE test_records (op_uuid TEXT PRIMARY KEY, kind TEXT NOT NULL, serial TEXT, at_ms BIGINT NOT NULL,"
          " result TEXT NOT NULL, record TEXT NOT NULL, sha256 TEXT NOT NULL)",
          "CREATE INDEX test_records_unit ON test_records (serial, at_ms)"}},
        // A configuration file loaded or written: its path beside its image.
        {4, {"ALTER TABLE operation_images ADD COLUMN file_path TEXT"}},
        // The fleet's alarm count reads a unit's events from a calendar time
        // on: a range of this index rather than every event of the unit.
        {5, {"CREATE INDEX events_unit_time ON events (serial, calendar_ms)"}},
        // A test record's hash joins the audit chain in its operation's end row.
        {6, {"ALTER TABLE operations ADD COLUMN record_sha256 TEXT"}},
    };
    return migrations;
}

QString ForEngine(const char* statement, HistoryEngine engine)
{
    QString text = QString::fromLatin1(statement);
    text.replace(QStringLiteral("{BLOB}"), engine == HistoryEngine::Postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB"));
    return text;
}

bool TableExists(QSqlDatabase& db, const QString& name)
{
    return db.tables().contains(name);
}

}  // namespace

int LatestVersion()
{
    return Migrations().back().version;
}

int CurrentVersion(QSqlDatabase& db, QString& error)
{
    if (!TableExists(db, QStringLiteral("schema_version")))
        return 0;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        error = QStringLiteral("Failed to read the schema version: %1").arg(query.lastError().text());
        return -1;
    }
    return query.value(0).toInt();
}

bool Migrate(QSqlDatabase& db, HistoryEngine engine, QString& error, int target)
{
    if (target < 0)
        target = LatestVersion();
    int version = CurrentVersion(db, error);
    if (version < 0)
        return false;
    if (version > LatestVersion()) {
        error = QStringLiteral("The history database has schema version %1; this program knows versions up to %2. "
                               "It was left untouched: use a newer Beamdock with it.")
                    .arg(version)
                    .arg(LatestVersion());
        return false;
    }
    for (const Migration& migration : Migrations()) {
        if (migration.version <= version || migration.version > target)
            continue;
        THistoryTransaction transaction(db, engine);
        if (!transaction.Begin(error))
            return false;
        // Another program may have migrated while this one waited for the lock.
        if (CurrentVersion(db, error) >= migration.version)
            continue;
        QSqlQuery query(db);
        if (migration.version == 1 &&
            !query.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER PRIMARY KEY, applied_ms BIGINT NOT NULL)"))) {
            error = QStringLiteral("Failed to create the schema version table: %1").arg(query.lastError().text());
            return false;
        }
        for (const char* statement : migration.statements) {
            if (!query.exec(ForEngine(statement, engine))) {
                error = QStringLiteral("Failed to apply migration %1 (%2): %3")
                            .arg(migration.version)
                            .arg(QString::fromLatin1(statement).left(40), query.lastError().text());
                return false;
            }
        }
        query.prepare(QStringLiteral("INSERT INTO schema_version (version, applied_ms) VALUES (?, ?)"));
        query.addBindValue(migration.version);
        query.addBindValue(QDateTime::currentMSecsSinceEpoch());
        if (!query.exec() || !transaction.Commit(error)) {
            if (error.isEmpty())
                error = QStringLiteral("Failed to record migration %1: %2").arg(migration.version).arg(query.lastError().text());
            return false;
        }
        version = migration.version;
    }
    return true;
}

}  // namespace historyschema
