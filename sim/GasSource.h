#pragma once
// The gas the simulated sensor is exposed to, over the simulator's own time
// (seconds since it started): a fixed concentration, or a script of steps
// for demonstrations. Values are in the sensor's gas unit (25 = 25 ppm for an
// H2S cell); negative values stand for a cell that reads below zero.
//
// Script file: one step per line, "SECONDS VALUE", seconds since start in
// increasing order; each value holds until the next step. Blank lines and
// everything from '#' to the end of a line are ignored. Before the first step
// the fixed concentration applies.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct GasStep {
    double at = 0.0;     // seconds since start
    double value = 0.0;  // gas unit
};

class GasSource {
public:
    // Bounds of what a script may hold, so a stray file cannot eat memory.
    static constexpr std::size_t kMaxSteps = 10000;
    static constexpr std::uintmax_t kMaxFileBytes = 1 << 20;
    static constexpr double kMaxMagnitude = 100000.0;

    explicit GasSource(double constant = 0.0, std::vector<GasStep> steps = {});

    // False with "line N: reason" (or why the file cannot be read).
    static bool LoadScript(const std::string& path, std::vector<GasStep>& steps, std::string& error);

    // From `at` on the gas is `value`; later scripted steps are dropped (the
    // gas a test applies by hand overrides the script from then on).
    void Apply(double at, double value);

    double At(double t) const;
    // The steps strictly inside (from, to), for integrating a response.
    std::vector<GasStep> StepsBetween(double from, double to) const;
    // The highest concentration at any moment of (from, to].
    double MaxBetween(double from, double to) const;
    // The average concentration over [from, to]; At(to) for an empty span.
    double MeanOver(double from, double to) const;

private:
    double constant_;
    std::vector<GasStep> steps_;
};

}  // namespace sim
