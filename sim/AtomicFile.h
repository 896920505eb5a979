#pragma once
// Files the simulator writes (its state, firmware images for the tool) appear
// whole or not at all: a reader never sees half a file, and a failed write
// leaves the old file in place.
#include <cstdint>
#include <span>
#include <string>

namespace sim {

// Temporary file beside `path`, fsync, rename over `path`, fsync of the
// folder. False with a one-line reason when any step fails.
bool WriteFileWhole(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error);

}  // namespace sim
