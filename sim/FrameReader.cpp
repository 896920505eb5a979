#include "FrameReader.h"

#include <algorithm>

namespace sim {

std::size_t FrameReader::Feed(std::span<const std::uint8_t> bytes, Clock::time_point now)
{
    if (bytes.empty())
        return 0;
    const std::size_t room = kCapacity - bytes_.size();
    const std::size_t kept = std::min(room, bytes.size());
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
    arrivals_.insert(arrivals_.end(), kept, now);
    lastByte_ = now;
    return kept;
}

std::vector<std::uint8_t> FrameReader::Peek(std::size_t len) const
{
    const std::size_t n = std::min(len, bytes_.size());
    return {bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::vector<std::uint8_t> FrameReader::Take(std::size_t len)
{
    std::vector<std::uint8_t> frame = Peek(len);
    Skip(frame.size());
    return frame;
}

void FrameReader::Skip(std::size_t len)
{
    const std::size_t n = std::min(len, bytes_.size());
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + static_cast<std::ptrdiff_t>(n));
}

FrameReader::Clock::time_point FrameReader::ArrivalOf(std::size_t len) const
{
    if (arrivals_.empty())
        return lastByte_;
    return arrivals_[std::clamp<std::size_t>(len, 1, arrivals_.size()) - 1];
}

void FrameReader::Clear()
{
    bytes_.clear();
    arrivals_.clear();
}

std::optional<FrameReader::Clock::time_point> FrameReader::StaleDeadline() const
{
    if (bytes_.empty())
        return std::nullopt;
    return lastByte_ + kStaleAfter;
}

bool FrameReader::DiscardIfStale(Clock::time_point now)
{
    const auto deadline = StaleDeadline();
    if (!deadline || now < *deadline)
        return false;
    Clear();
    return true;
}

}  // namespace sim
