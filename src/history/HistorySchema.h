#pragma once
// The history's tables, built by numbered migrations that only go forward.
// Each migration runs in one transaction together with the row that records
// its number, so a database is always at one whole version.
#include <QSqlDatabase>
#include <QString>

#include "HistoryLocation.h"

namespace historyschema {

// The version this program builds and understands.
int LatestVersion();

// The version the database holds; 0 for an empty one, -1 when it cannot be
// read (the reason in `error`).
int CurrentVersion(QSqlDatabase& db, QString& error);

// Brings the database to `target` (the latest when -1). A database newer than
// this program is refused and left as it is. False with `error` on failure;
// a failed migration leaves the version before it.
bool Migrate(QSqlDatabase& db, HistoryEngine engine, QString& error, int target = -1);

}  // namespace historyschema
