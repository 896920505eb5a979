#pragma once
// Every device operation of the window, run through the window's own
// workflows against the simulated detector at 115200 baud: one run of the
// whole benchmark gives one row per operation.
#include <QStringList>

#include <vector>

#include "BenchRows.h"

namespace bench {

struct ROptions {
    int runs = 1;                // whole benchmark runs; the table of their medians follows
    int loggingSeconds = 10;     // the real-time logging wait
    QStringList only;            // row keys to run; empty: all
    bool Wanted(const char* key) const { return only.isEmpty() || only.contains(QLatin1String(key)); }
};

// The row keys, in the order they run, for --only.
QStringList RowKeys();

// One run of every wanted row; false when the simulator could not be set up.
bool RunDeviceRows(const ROptions& options, std::vector<RRow>& rows);

}  // namespace bench
