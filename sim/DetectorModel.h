#pragma once
// The detector's memory and the file that keeps it between runs.
//
// Memory map (1024 bytes, what an EEPROM dump shows; reads past the end give
// erased bytes, 0xFF):
//   0x000..0x07F  configuration image: unit block 0x00..0x3F, sensor block
//                 0x40..0x7F; each block ends with the CRC-16 of its first 62
//                 bytes, low byte first
//   0x080..0x091  identity record as the identify command reports it (model,
//                 hardware, firmware, fitted sensor, life remaining, serial)
//   0x092         unit status: 0xFF (erased) nothing recorded; otherwise
//                 bit 0 a calibration has completed since the last factory
//                 reset, bit 3 the last calibration failed, bit 4 the last
//                 bump test failed (bits 5..7 always 0)
//   0x093..0x0FF  erased
//   0x100..0x3FC  event log: 85 slots of 9-byte event records, oldest first;
//                 the log ends at the first slot whose start time is
//                 0xFFFFFFFF (an erased slot)
//   0x3FD..0x3FF  erased
//
// State file (1032 bytes, always written whole):
//   0..3   "VSIM"
//   4..5   format version, 1, little-endian
//   6..7   zero
//   8..    the 1024-byte memory above, with the life remaining as of saving
//          in the unit block (bytes 36..39) and in the identity record
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ZelRecords.h"

namespace sim {

namespace unitstatus {
constexpr std::uint8_t kCalibrated = 0x01;
constexpr std::uint8_t kCalibrationFailed = 0x08;  // same bit as in a gas reading
constexpr std::uint8_t kBumpFailed = 0x10;         // likewise
}  // namespace unitstatus

struct Identity {
    std::uint8_t model = zel::kVarnoliteModel;
    std::uint8_t hardware = 1;
    std::uint8_t firmware = 13;  // tens digit major, units digit minor: 1.3
    std::uint8_t sensor = 1;     // H2S
    std::array<char, 10> serial{'S', 'H', '1', '0', '0', '0', '0', '1', '2', '3'};
};

// Identity values given on the command line; they win over a loaded state.
struct IdentityOverrides {
    std::optional<std::uint8_t> model;
    std::optional<std::uint8_t> hardware;
    std::optional<std::uint8_t> firmware;
    std::optional<std::uint8_t> sensor;
    std::optional<std::array<char, 10>> serial;
};

class DetectorModel {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kMemorySize = 1024;
    static constexpr std::size_t kConfigAt = 0x000;
    static constexpr std::size_t kConfigSize = sizeof(RZELCFG);
    static constexpr std::size_t kBlockSize = 64;
    static constexpr std::size_t kIdentityAt = 0x080;
    static constexpr std::size_t kStatusAt = 0x092;
    static constexpr std::size_t kLogAt = 0x100;
    static constexpr std::size_t kLogSlots = 85;
    static constexpr std::size_t kStateHeaderSize = 8;
    static constexpr std::size_t kStateFileSize = kStateHeaderSize + kMemorySize;
    // A fresh unit has been in service for four months.
    static constexpr std::uint32_t kFreshLife = zel::kFullLife - 120 * zel::kDaySeconds;

    // A new unit: default configuration carrying the identity, a short event
    // history, life counting down from `life`.
    static DetectorModel Fresh(const Identity& identity, std::uint32_t life);
    // nullopt and a reason when the file is unreadable or not a state file.
    static std::optional<DetectorModel> Load(const std::string& path, std::string& error);
    // Temporary file, fsync, rename: the old state stays until the new one is
    // complete.
    bool Save(const std::string& path, std::string& error);

    void ApplyOverrides(const IdentityOverrides& overrides);

    std::uint32_t Life() const;
    void SetLife(std::uint32_t life);

    Identity CurrentIdentity() const;
    RZELIdenty IdentityRecord() const;
    // The configuration image with the running life and both CRCs brought up
    // to date.
    std::array<std::uint8_t, kConfigSize> ConfigImage();
    // False (and nothing written) when the range leaves the image.
    bool WriteConfig(std::size_t offset, std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> MemorySnapshot();
    std::vector<std::uint8_t> EventLog() const;
    void ClearEventLog();
    // Replaces the log (at most its 85 slots) and sets the unit block's alarm
    // count and alarm time to match it.
    void ReplaceEventLog(const std::vector<RZELEvent>& events);
    // Adds an event; a full log first gives up its oldest entry (the largest
    // start time). The alarm totals are the unit's own counters and are left
    // to the caller.
    void AppendEvent(const RZELEvent& event);
    // Factory settings back; life counter and event log stay. The status
    // byte is cleared: a reset unit has to be calibrated again.
    void RestoreFactoryConfig();
    bool SuspendAllowed() const;

    RZELUnitCFG UnitBlock() const;
    RZELSensorCFG SensorBlock() const;
    // Both keep the life counter running and the block CRC right.
    void WriteUnitBlock(const RZELUnitCFG& block);
    void WriteSensorBlock(const RZELSensorCFG& block);
    // A new firmware has been programmed: identity and unit block report it.
    void TakeFirmware(std::uint8_t version);

    // unitstatus:: bits; 0 while the byte is erased.
    std::uint8_t StatusFlags() const;
    void SetStatusFlags(std::uint8_t flags);

private:
    DetectorModel() = default;

    std::uint8_t* Config() { return memory_.data() + kConfigAt; }
    const std::uint8_t* Config() const { return memory_.data() + kConfigAt; }
    void WriteDefaultConfig(const Identity& identity);
    void WriteIdentity(const Identity& identity);
    void SyncLife();
    void FixBlockCrcs();
    std::size_t EventCount() const;
    std::vector<RZELEvent> Events() const;
    void WriteEvents(const std::vector<RZELEvent>& events);

    std::array<std::uint8_t, kMemorySize> memory_{};
    std::uint32_t lifeBase_ = 0;
    Clock::time_point lifeSince_{};
};

}  // namespace sim
