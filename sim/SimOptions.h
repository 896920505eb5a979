#pragma once
// Command line of varnolite-sim, and of its make-image command.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DetectorModel.h"
#include "FirmwareImage.h"
#include "SessionSettings.h"
#include "SimProtocol.h"

namespace sim {

struct SimOptions {
    std::string linkPath;
    std::string statePath;
    std::string recordPath;
    std::string controlPath;  // a named pipe taking "away K" / "front K [SERIAL]"
    int units = 1;
    std::vector<int> refusingUnits;  // units that refuse every configuration write
    bool refuseWrites = false;       // this unit does (set per unit from refusingUnits)
    IdentityOverrides identity;
    std::optional<std::uint32_t> life;  // for a new unit only
    std::optional<std::size_t> events;  // replace the event log with this many
    std::uint32_t baud = 0;             // 0: replies take no wire time
    std::chrono::microseconds turnaround = kTurnaround;
    double dropRate = 0.0;
    double corruptRate = 0.0;
    double nakRate = 0.0;
    double splitRate = 0.0;
    double strayRate = 0.0;
    std::optional<std::uint64_t> unplugAfter;
    std::uint32_t seed = 1;
    SessionSettings session;
    double gas = 0.0;  // gas unit
    bool gasGiven = false;
    std::string gasScriptPath;
    std::string gasControlPath;
    double gasT90 = 0.0;  // seconds
    int noiseTenths = 3;
    int gasDecimals = 1;
    bool help = false;

    // The identity of a new unit: defaults with the overrides applied.
    Identity FreshIdentity() const;
};

struct MakeImageOptions {
    std::string outPath;
    ImageHeader header;
    std::size_t size = image::kDefaultSize;
    std::uint32_t seed = 1;
    bool help = false;
};

// Fills `options`; on a bad argument returns false with a one-line reason.
bool ParseOptions(int argc, char** argv, SimOptions& options, std::string& error);
const char* UsageText();

// argv[1] is "make-image".
bool ParseMakeImageOptions(int argc, char** argv, MakeImageOptions& options, std::string& error);
const char* MakeImageUsageText();

}  // namespace sim
