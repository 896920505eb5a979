#pragma once
// The logging dialog's run without its window: one reading of it, timed on
// a clock that jumps to each deadline, and the run in real time, waiting
// between readings.
#include <QString>

#include "BenchRows.h"
#include "DeviceSettings.h"

class TComZEL;

namespace bench {

// One reading: from one reading shown to the next, each interval holding
// the link check between readings, the three requests, the reading shown
// and its record written. Median of the intervals; the floor from a traced
// run of the same.
RRow LogReadingRow(TComZEL& link, const LoadedSettings& settings, const QString& dataLog);

// `seconds` of logging at the 1 s interval in real time, from the first
// reading to the run's end: the CPU share of a run that mostly waits.
RRow LogWaitRow(TComZEL& link, const LoadedSettings& settings, const QString& dataLog, int seconds);

}  // namespace bench
