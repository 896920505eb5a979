#pragma once
// The unit's side of a firmware download. 0x10 opens it; then every 0x91
// announces the next packet and every 0x93 a repeat of the packet just sent,
// each followed by a data frame of one packet. 0x11 asks the unit to check
// what it received and program it.
//
// The PC repeats a packet with 0x93 after any failed attempt, whether the
// unit took the data or not (a damaged ACK looks the same to it as a refused
// frame). So the unit keeps track of whether the packet announced by the
// last 0x91 has arrived: a repeat then either fills that packet or rewrites
// the last one taken.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "FirmwareImage.h"

namespace sim {

// Packet `packet` (0-based) is refused `times` times before it is taken.
struct PacketRefusal {
    std::size_t packet = 0;
    int times = 1;
};

class FirmwareReceiver {
public:
    FirmwareReceiver(std::size_t packetSize, std::vector<PacketRefusal> refusals);

    std::size_t PacketSize() const { return packetSize_; }
    bool Open() const { return open_; }
    // Opens a download with an empty buffer (also over one already open).
    void Start();
    // The connection ended or the unit was woken again: the download is lost.
    void Abandon();

    // 0x91 (`repeat` false) or 0x93 (true) seen: the next data frame is the
    // new packet or the repeat.
    void Announce(bool repeat);
    // A data frame: false when the unit refuses it (a planned refusal, or
    // the image area is full); nothing is stored then.
    bool Receive(std::span<const std::uint8_t> packet);

    std::span<const std::uint8_t> Received() const { return image_; }
    std::size_t PacketsReceived() const { return stored_; }

private:
    std::size_t SlotOfNextFrame() const;

    std::size_t packetSize_;
    // Counts down across every sending of the packet, over all downloads of
    // the run, so a refusal plan can also fail a whole attempt.
    std::map<std::size_t, int> refusalsLeft_;
    bool open_ = false;
    bool repeat_ = false;
    bool newPacketDue_ = false;
    std::size_t stored_ = 0;
    std::vector<std::uint8_t> image_;
};

}  // namespace sim
