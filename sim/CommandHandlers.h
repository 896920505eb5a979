#pragma once
// The detector's command interpreter. One handler per command byte, looked up
// in a table; some commands announce a follow-up frame without a command byte
// whose length only the detector's state tells (address header, data frame,
// life value).
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "DetectorModel.h"
#include "LiveReadings.h"

namespace sim {

struct Outcome {
    std::vector<std::uint8_t> reply;  // empty: the detector stays silent
    bool discardInput = false;        // throw away what else is waiting
    bool memoryChanged = false;       // the state file needs saving
};

class DetectorSession {
public:
    static constexpr std::size_t kDefaultPacketSize = 32;

    DetectorSession(DetectorModel& model, LiveReadings& readings, int wakeFrames);

    bool Asleep() const { return !awake_; }
    // Length of the frame the detector waits for now.
    std::size_t ExpectedLength() const;
    Outcome Handle(std::span<const std::uint8_t> frame);
    // The detector refuses the frame without acting on it (a NAK where it
    // would have answered at all).
    Outcome Refuse(std::span<const std::uint8_t> frame);

private:
    enum class Awaiting { Command, AddressHeader, ConfigData, LifeValue };
    using Handler = Outcome (DetectorSession::*)(std::uint8_t command);

    struct AddressHeader {
        std::size_t count = 0;
        std::size_t address = 0;
    };
    // What 0x81 walks through: a copy taken when it was selected, so a
    // packet never mixes two life values; bytes past its end read as erased.
    struct Selection {
        std::vector<std::uint8_t> bytes;
        std::size_t next = 0;
    };

    static const std::map<std::uint8_t, Handler>& Handlers();

    Outcome HandleAsleep(std::span<const std::uint8_t> frame);
    Outcome HandleCommand(std::uint8_t command);
    Outcome HandleAddressHeader(std::span<const std::uint8_t> payload);
    Outcome HandleConfigData(std::span<const std::uint8_t> payload);
    Outcome HandleLifeValue(std::span<const std::uint8_t> payload);

    Outcome Check(std::uint8_t);
    Outcome Release(std::uint8_t);
    Outcome Identify(std::uint8_t);
    Outcome SelectUnit(std::uint8_t);
    Outcome SelectSensor(std::uint8_t);
    Outcome SelectLog(std::uint8_t);
    Outcome NextPacket(std::uint8_t);
    Outcome AnnounceAddress(std::uint8_t);
    Outcome AnnounceData(std::uint8_t);
    Outcome AnnounceLife(std::uint8_t);
    Outcome LogSize(std::uint8_t);
    Outcome LiveReading(std::uint8_t command);
    Outcome Hibernate(std::uint8_t);
    Outcome LogReset(std::uint8_t);
    Outcome ResetUnit(std::uint8_t);
    Outcome FactoryReset(std::uint8_t);
    Outcome TestOutput(std::uint8_t);
    Outcome SensorCommand(std::uint8_t command);

    void Select(std::vector<std::uint8_t> bytes);
    void SelectMemory(std::size_t address);
    void FallAsleep();

    DetectorModel& model_;
    LiveReadings& readings_;
    const int wakeFrames_;

    bool awake_ = false;
    int wakeCount_ = 0;
    Awaiting awaiting_ = Awaiting::Command;
    std::optional<std::uint8_t> previousCommand_;
    std::size_t packetSize_ = kDefaultPacketSize;
    std::optional<AddressHeader> header_;
    std::optional<Selection> selection_;
};

}  // namespace sim
