#pragma once
// One write transaction that holds the history's writer lock from its start:
// SQLite's BEGIN IMMEDIATE (waiting up to the busy time-out), PostgreSQL's
// transaction-scoped advisory lock. Appends to the audit chain read the last
// row and add the next one inside it, so two stations never fork the chain.
// Rolled back when it goes out of scope uncommitted.
#include <QSqlDatabase>
#include <QString>

#include "HistoryLocation.h"

class THistoryTransaction {
public:
    THistoryTransaction(QSqlDatabase& db, HistoryEngine engine) : FDb(db), FEngine(engine) {}
    ~THistoryTransaction();
    THistoryTransaction(const THistoryTransaction&) = delete;
    THistoryTransaction& operator=(const THistoryTransaction&) = delete;

    bool Begin(QString& error);
    bool Commit(QString& error);

private:
    QSqlDatabase& FDb;
    HistoryEngine FEngine;
    bool FOpen = false;
};
