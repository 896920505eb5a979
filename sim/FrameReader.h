#pragma once
// Collects the bytes the detector's receiver picks up. There is no start byte
// and no length field on this line: the detector knows from its own state how
// long the next frame is, and a frame that stops half-way is thrown away once
// the line has been quiet for a while.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace sim {

class FrameReader {
public:
    using Clock = std::chrono::steady_clock;

    // Longest frame is a 256-byte firmware packet with its CRC; the room
    // beyond lets a burst of wake-up frames wait without loss. Bytes beyond
    // this are dropped.
    static constexpr std::size_t kCapacity = 512;
    // A partial frame with no new byte for this long is line noise or the
    // remains of an aborted exchange.
    static constexpr std::chrono::milliseconds kStaleAfter{20};

    // Returns the number of bytes kept (the rest did not fit).
    std::size_t Feed(std::span<const std::uint8_t> bytes, Clock::time_point now);

    std::size_t Size() const { return bytes_.size(); }
    bool Has(std::size_t len) const { return bytes_.size() >= len; }
    // The first `len` buffered bytes (fewer when not that many are waiting).
    std::vector<std::uint8_t> Peek(std::size_t len) const;
    std::vector<std::uint8_t> Take(std::size_t len);
    // When the `len`-th waiting byte arrived (the last one when fewer wait).
    Clock::time_point ArrivalOf(std::size_t len) const;
    void Skip(std::size_t len);
    void Clear();

    // When the waiting bytes will be stale; nothing when the buffer is empty.
    std::optional<Clock::time_point> StaleDeadline() const;
    // Throws away waiting bytes that have gone stale; true when it did.
    bool DiscardIfStale(Clock::time_point now);

private:
    std::deque<std::uint8_t> bytes_;
    std::deque<Clock::time_point> arrivals_;  // one for each waiting byte
    Clock::time_point lastByte_{};
};

}  // namespace sim
