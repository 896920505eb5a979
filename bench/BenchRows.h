#pragma once
// One row of the benchmark's table: an operation run for a number of rounds,
// its wall and CPU time per round, its floor on the line, and the targets it
// is judged against.
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "WireFloor.h"

class TComZEL;

namespace bench {

// Every operation: wall time (median of the rounds) at most this many times
// its floor. Judged against the line floor, the wire time the simulated line
// really imposes (see WireFloor.h): against the simulator the floor both
// ways would hide the tool's own cost behind bytes the pseudo-terminal
// never delays.
constexpr double kRatioTarget = 1.15;
// The waits (a wake-up nobody answers, logging between readings, the
// firmware download): CPU time at most this share of wall time.
constexpr double kWaitCpuTarget = 0.02;

struct RRow {
    QString name;
    bool judgeRatio = true;   // an operation with a floor
    bool judgeCpu = false;    // a wait
    bool informational = false;  // shown, not judged
    wire::Floor floor;
    std::vector<double> wallMs;  // per round
    std::vector<double> cpuMs;   // per round
    double totalWallMs = 0;      // every round, for the CPU share
    double totalCpuMs = 0;
    int failedRounds = 0;
    QString note;

    double WallMs() const;       // median of the rounds
    double CpuMs() const;        // median of the rounds
    double CpuShare() const { return totalWallMs > 0 ? totalCpuMs / totalWallMs : 0; }
    double Ratio() const { return WallMs() / floor.bothWaysMs; }
    double LineRatio() const { return WallMs() / floor.lineMs; }
    bool RatioMet() const { return !judgeRatio || LineRatio() <= kRatioTarget; }
    bool CpuMet() const { return !judgeCpu || CpuShare() <= kWaitCpuTarget; }
    bool Met() const { return informational || (failedRounds == 0 && RatioMet() && CpuMet()); }
};

double Median(std::vector<double> values);

// Runs `work` once with the communication trace on to find the floor (plus
// `untraced`: wire time the trace does not show), then `rounds` times
// without it, timing each round. `work` returns the status the operation
// reported; anything but `expected` counts as a failed round.
RRow Measure(const QString& name, TComZEL& link, const std::function<std::uint8_t()>& work, int rounds,
             wire::Floor untraced = {}, std::uint8_t expected = 0);
// The same against a simulator that delays nothing: the floor is the
// pauses alone, and what lies above it is the cost of the round trips
// themselves (the tool, the pseudo-terminal, the simulator's process).
RRow MeasureUndelayed(const QString& name, TComZEL& link, const std::function<std::uint8_t()>& work, int rounds);

// Times `work` for `rounds` rounds without a floor (a wait).
RRow MeasureWait(const QString& name, const std::function<std::uint8_t()>& work, int rounds, std::uint8_t expected);

// `counted`: what the count column counts ("rounds", or "runs" for the
// medians of several runs).
void PrintTable(const char* title, const std::vector<RRow>& rows, const char* counted = "rounds");
// Rows of several runs of the whole benchmark, by name: the median of each
// run's median wall time, the median CPU time and share, the floor of the
// first run, every failed round.
std::vector<RRow> MedianOfRuns(const std::vector<std::vector<RRow>>& runs);
// The verdict line per row that missed a target, and the overall verdict.
bool PrintSummary(const std::vector<RRow>& rows);

}  // namespace bench
