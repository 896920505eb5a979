#pragma once
// The fleet report: every unit the history knows with its last calibration
// and bump test and their due dates, overdue units first, and per unit the
// alarm events of the period from the merged event log. A4 pages, as many as
// the fleet needs; written whole or not at all.
#include <QString>

#include <vector>

struct RFleetUnit {
    QString serial, userId, sensor;
    QString lastCalibration, calibrationDue;  // dates, "none", "unknown"
    QString lastBump, bumpDue;
    QString status;   // "overdue", "due within 7 days", "ok", "unknown"
    int rank = 0;     // higher first: overdue before due soon before the rest
    int alarmCount = 0;
    QString highestReading;  // "-" without alarms
    qint64 alarmSeconds = 0;
};

struct RFleetReport {
    QString station;
    QString generated;  // local date and time with zone
    QString period;     // "2026-11-10 to 2026-12-10"
    int dueWithinDays = 7;
    std::vector<RFleetUnit> units;  // sorted here
};

bool WriteFleetReport(const QString& path, RFleetReport report, QString& error);
