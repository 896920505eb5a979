#pragma once
// The fleet at a glance: one row per unit with its due dates worked out, and
// the loading of a whole snapshot of it from a history store. Loading runs on
// whatever thread owns the store; the rows are plain values handed to the
// window afterwards.
#include <QString>

#include <optional>
#include <vector>

#include "DueDates.h"
#include "HistoryStore.h"
#include "SensorTypes.h"

// In the order the list shows them: what needs a technician first.
enum class FleetStatus { Overdue = 0, DueSoon = 1, Never = 2, Ok = 3 };

struct RFleetRow {
    FleetStatus status = FleetStatus::Ok;
    QString serial, userId, product, sensor, firmware;
    qint64 lastSeenMs = 0;
    QString station;
    std::optional<qint64> lastCalMs, calDueMs, lastBumpMs, bumpDueMs;
    bool calRequired = false, bumpRequired = false;
    QString calResult, bumpResult;  // of the latest record; empty when only the unit's timer knows
    int alarms30Days = 0;
};

struct RFleetSnapshot {
    std::vector<RFleetRow> rows;
    QString problem;   // shown on the status line; empty when all is well
    int waiting = 0;   // records in the station's spool
    bool local = false;  // the site was not reachable: rows are this station's own
};

namespace fleet {

inline constexpr qint64 kAlarmWindowMs = 30LL * 86400 * 1000;

FleetStatus StatusOf(const duedates::RDueDates& due);
// "overdue", "due within 7 days", "never calibrated", "ok".
QString StatusText(FleetStatus status, int dueWithinDays);
// The earliest of the due dates a unit has.
std::optional<qint64> NextDue(const RFleetRow& row);
// The list's own order: overdue first, then by the next due date (unknown
// last), then by serial.
bool DefaultLess(const RFleetRow& a, const RFleetRow& b);
// Case-insensitive part of the serial, the user ID or the sensor.
bool Matches(const RFleetRow& row, const QString& filter);

std::vector<RFleetRow> LoadRows(THistoryStore& store, const std::vector<RSensorType>& sensors, qint64 nowMs,
                                int dueWithinDays, QString& error);

}  // namespace fleet
