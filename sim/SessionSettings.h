#pragma once
// How the simulated unit behaves at its command interface, from the command
// line.
#include <chrono>
#include <cstddef>
#include <vector>

#include "FirmwareImage.h"
#include "FirmwareReceiver.h"

namespace sim {

struct SessionSettings {
    int wakeFrames = 1;
    // Packet size of block and event log reads (an EEPROM read takes its
    // own from the address header).
    std::size_t blockPacketSize = 32;

    std::size_t firmwarePacketSize = 128;
    std::size_t firmwareImageSize = image::kDefaultSize;
    std::vector<PacketRefusal> firmwareRefusals;
    bool refuseExecute = false;

    std::chrono::seconds calibrationTime{20};
    bool calibrationFails = false;
    bool refuseZero = false;
};

}  // namespace sim
