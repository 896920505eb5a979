#pragma once
// Where an operation's records go: straight into the chosen database, or,
// while a site's PostgreSQL server cannot be reached, into the spool of the
// station's SQLite file, sent on at the next record, at start-up and by
// "history sync". Each record is sent by its UUID, so a spool replayed twice
// stores it once. One thread only.
#include <QString>

#include <optional>
#include <variant>

#include "HistoryLocation.h"
#include "HistoryRecords.h"
#include "HistoryStore.h"

using RHistoryEntry = std::variant<ROperationStart, ROperationEnd>;

struct RSinkResult {
    bool kept = false;     // in the database or in the spool
    bool spooled = false;
    QString problem;       // why the record is not where it was meant to go
};

struct RSyncResult {
    int sentOperations = 0;  // operations that reached the server now
    int waiting = 0;         // records still in the spool
    QString problem;
};

class THistorySink {
public:
    // `spoolPath` is the station file (the default history file when empty).
    explicit THistorySink(RHistoryLocation location, QString spoolPath = QString());

    RSinkResult Put(const RHistoryEntry& entry);
    // Sends what the spool holds; nothing to do for a station file.
    RSyncResult Sync();
    int Waiting();

private:
    bool EnsurePrimary(QString& error);
    bool EnsureSpool(QString& error);
    bool Spool(const RHistoryEntry& entry, QString& error);

    RHistoryLocation FLocation;
    QString FSpoolPath;
    THistoryStore FPrimary;
    THistoryStore FSpool;
    // After a server that did not answer, records go straight to the spool
    // for a while instead of each waiting for the connect time-out.
    qint64 FRetryAfterMs = 0;
    QString FRetryReason;
};
