#pragma once
// Command line of varnolite-sim.
#include <cstdint>
#include <optional>
#include <string>

#include "DetectorModel.h"

namespace sim {

struct SimOptions {
    std::string linkPath;
    std::string statePath;
    std::string recordPath;
    IdentityOverrides identity;
    std::optional<std::uint32_t> life;  // for a new unit only
    std::uint32_t baud = 0;             // 0: replies go out at once
    double dropRate = 0.0;
    double corruptRate = 0.0;
    double nakRate = 0.0;
    int wakeFrames = 1;
    std::optional<std::uint64_t> unplugAfter;
    std::uint32_t seed = 1;
    bool help = false;

    // The identity of a new unit: defaults with the overrides applied.
    Identity FreshIdentity() const;
};

// Fills `options`; on a bad argument returns false with a one-line reason.
bool ParseOptions(int argc, char** argv, SimOptions& options, std::string& error);
const char* UsageText();

}  // namespace sim
