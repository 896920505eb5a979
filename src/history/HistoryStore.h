#pragma once
// One connection to a history database (SQLite file or PostgreSQL) and the
// writes of the records of an operation. Used from one thread only: the
// connection belongs to the thread that opened it.
#include <QSqlDatabase>
#include <QString>

#include <optional>

#include "AuditChain.h"
#include "HistoryLocation.h"
#include "HistoryRecords.h"

enum class AppendResult { Stored, AlreadyStored, Failed };

class THistoryStore {
public:
    THistoryStore();
    ~THistoryStore();
    THistoryStore(const THistoryStore&) = delete;
    THistoryStore& operator=(const THistoryStore&) = delete;

    // Connects and brings the schema to this program's version (or to
    // `schemaVersion` when given, for tests of the migrations). A newer
    // schema is refused untouched.
    bool Open(const RHistoryLocation& location, QString& error, int schemaVersion = -1);
    void Close();
    bool IsOpen() const { return FDb.isOpen(); }
    const RHistoryLocation& Location() const { return FLocation; }
    HistoryEngine Engine() const { return FLocation.engine; }
    QSqlDatabase& Db() { return FDb; }

    // Each in one transaction; a record whose UUID is already there is left
    // as it is.
    AppendResult AppendStart(const ROperationStart& start, QString& error);
    AppendResult AppendEnd(const ROperationEnd& end, QString& error);

    // Every operations row in chain order.
    std::vector<ROperationRow> ChainRows(QString& error);

private:
    bool AppendChainRow(ROperationRow& row, QString& error);
    bool StoreImages(const ROperationEnd& end, qint64 startMs, QString& error);
    bool StoreEvents(const ROperationEnd& end, QString& error);
    bool StoreExtras(const ROperationEnd& end, QString& error);
    std::optional<bool> RowExists(const QString& opUuid, const QString& kind, QString& error);
    std::optional<qint64> StartOf(const QString& opUuid);

    QString FName;
    QSqlDatabase FDb;
    RHistoryLocation FLocation;
};
