#include "FirmwareReceiver.h"

#include <algorithm>

namespace sim {

FirmwareReceiver::FirmwareReceiver(std::size_t packetSize, std::vector<PacketRefusal> refusals)
    : packetSize_(std::max<std::size_t>(packetSize, 1))
{
    for (const PacketRefusal& refusal : refusals)
        refusalsLeft_[refusal.packet] += refusal.times;
}

void FirmwareReceiver::Start()
{
    open_ = true;
    repeat_ = false;
    newPacketDue_ = false;
    stored_ = 0;
    image_.clear();
}

void FirmwareReceiver::Abandon()
{
    open_ = false;
    stored_ = 0;
    image_.clear();
}

void FirmwareReceiver::Announce(bool repeat)
{
    repeat_ = repeat;
    if (!repeat)
        newPacketDue_ = true;
}

std::size_t FirmwareReceiver::SlotOfNextFrame() const
{
    if (!repeat_ || newPacketDue_ || stored_ == 0)
        return stored_;
    return stored_ - 1;
}

bool FirmwareReceiver::Receive(std::span<const std::uint8_t> packet)
{
    const std::size_t slot = SlotOfNextFrame();
    const std::size_t at = slot * packetSize_;
    if (at + packet.size() > image::kMaxSize)
        return false;
    if (auto planned = refusalsLeft_.find(slot); planned != refusalsLeft_.end() && planned->second > 0) {
        --planned->second;
        return false;
    }
    if (slot == stored_) {
        image_.insert(image_.end(), packet.begin(), packet.end());
        ++stored_;
    } else {
        std::copy(packet.begin(), packet.end(), image_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    newPacketDue_ = false;
    return true;
}

}  // namespace sim
