#include "HistoryTransaction.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

// Any fixed number: every Beamdock program takes the same lock.
constexpr const char* kPostgresLock = "SELECT pg_advisory_xact_lock(7403220)";

}  // namespace

THistoryTransaction::~THistoryTransaction()
{
    if (FOpen)
        QSqlQuery(FDb).exec(QStringLiteral("ROLLBACK"));
}

bool THistoryTransaction::Begin(QString& error)
{
    QSqlQuery query(FDb);
    const bool sqlite = FEngine == HistoryEngine::Sqlite;
    if (!query.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))) {
        error = QStringLiteral("Failed to begin a transaction: %1").arg(query.lastError().text());
        return false;
    }
    FOpen = true;
    if (!sqlite && !query.exec(QString::fromLatin1(kPostgresLock))) {
        error = QStringLiteral("Failed to take the history's writer lock: %1").arg(query.lastError().text());
        return false;
    }
    return true;
}

bool THistoryTransaction::Commit(QString& error)
{
    QSqlQuery query(FDb);
    if (!query.exec(QStringLiteral("COMMIT"))) {
        error = QStringLiteral("Failed to commit: %1").arg(query.lastError().text());
        return false;
    }
    FOpen = false;
    return true;
}
