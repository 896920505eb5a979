#pragma once
// Generated fleets for the fleet window's tests: units whose due dates fall
// where a test wants them, recorded the way a station's recorder records.
#include <QString>

#include <cstdint>
#include <vector>

#include "HistoryStore.h"
#include "ZelRecords.h"

// One configuration read of `serial` ending at `atMs`; `role` "read", or a
// write ("before" + "after" images) when `before` is given; with `alarms`
// high-alarm events downloaded, nine days apart.
bool RecordRead(THistoryStore& store, const RZELCFG& cfg, qint64 atMs, const QString& station = QStringLiteral("bench-1"),
                const RZELCFG* before = nullptr, int alarms = 0);
// A configuration of `serial` last calibrated `lastCalDays` ago with a
// calibration interval of `calDays` (0: none) and no bump interval.
RZELCFG FleetConfig(const QString& serial, double lastCalDays, int calDays, const char* userId = "SITE01");
// `count` units seen over the last weeks, about one in eight overdue, one in
// ten due within a week, a few never calibrated; the first unit had a
// write that changed its alarm set points. Their events hold alarms.
bool GenerateFleet(THistoryStore& store, int count, qint64 nowMs);
// A passed bump test of `cfg`'s unit ending at `atMs`, its record holding
// `curve` (one reading a second) as the bump test keeps it; its operation's
// UUID, empty when it was not stored.
QString RecordBumpTest(THistoryStore& store, const RZELCFG& cfg, qint64 atMs, const std::vector<double>& curve);
