#pragma once
// The program started as the desktop starts it (single-instance guard,
// settings, window), timed from the start of its process to the window's
// first painted frame. The bench starts itself for this with a variable in
// the environment that carries its own clock reading taken just before.
#include <QString>

#include <vector>

namespace windowbench {

// The parent's monotonic clock just before it started the process, in
// nanoseconds; its presence makes the program a start-up run.
constexpr const char* kStartVariable = "BEAMDOCK_BENCH_START_NS";

qint64 MonotonicNs();

// The start-up run's side: what src/ui/main.cpp does, up to the first
// frame, then "first-paint-ms MS rss-kib KIB" on standard output.
int StartUpRun(int argc, char** argv, qint64 startNs);

struct RStartUp {
    std::vector<double> firstPaintMs;
    std::vector<double> residentKiB;
};

// The bench's side: `runs` start-ups in the program directory `programDir`.
RStartUp MeasureStartUp(const QString& programDir, int runs);

}  // namespace windowbench
