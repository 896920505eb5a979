#include "MemoryChannel.h"

#include <algorithm>
#include <cerrno>

#include "CommError.h"

namespace {

// The far end never sends more than this in answer to one frame; a
// responder that asks for more is cut, as a driver's queue would be.
constexpr std::size_t kMaxQueuedBytes = 64 * 1024;

}  // namespace

TMemoryChannel::TMemoryChannel(Responder responder) : FResponder(std::move(responder)) {}

void TMemoryChannel::Open()
{
    if (FOpen)
        throw ECommError(commtext::kAlreadyOpen, -1);
    if (FLost)
        throw ECommError(commtext::kAccessError, ENOENT);
    FOpen = true;
}

void TMemoryChannel::LoseLine()
{
    FLost = true;
    FOpen = false;
    FInput.clear();
}

int TMemoryChannel::Write(const std::uint8_t* buf, int count)
{
    if (!FOpen)
        throw ECommError(commtext::kWriteError, EBADF);
    if (FLoseAt && FWrites >= *FLoseAt) {
        LoseLine();
        throw ECommError(commtext::kWriteError, EIO);
    }
    ++FWrites;
    const std::vector<std::uint8_t> frame(buf, buf + std::max(count, 0));
    std::vector<Chunk> reply = FResponder ? FResponder(frame) : std::vector<Chunk>{};
    // Chunks keep their order on the line even when a later one says it
    // comes sooner: bytes on a wire cannot overtake each other.
    Clock::time_point at = FNow;
    for (const Chunk& chunk : reply) {
        at = std::max(at, FNow + chunk.after);
        for (const std::uint8_t value : chunk.bytes) {
            if (FInput.size() >= kMaxQueuedBytes)
                return count;
            FInput.push_back({at, value});
        }
    }
    return count;
}

int TMemoryChannel::Read(std::uint8_t* buf, int count)
{
    if (!FOpen)
        throw ECommError(commtext::kReadError, FLost ? EIO : EBADF);
    int got = 0;
    while (got < count && Arrived()) {
        buf[got++] = FInput.front().value;
        FInput.pop_front();
    }
    return got;
}

void TMemoryChannel::PurgeIn()
{
    while (Arrived())
        FInput.pop_front();
}

bool TMemoryChannel::WaitForInput(int ms)
{
    if (!FOpen)
        throw ECommError(commtext::kReadError, FLost ? EIO : EBADF);
    if (Arrived())
        return true;
    const Clock::time_point until = FNow + std::chrono::milliseconds(std::max(ms, 0));
    if (!FInput.empty() && FInput.front().arrives <= until) {
        FNow = FInput.front().arrives;
        return true;
    }
    FNow = until;
    return false;
}

void TMemoryChannel::SleepUntil(Clock::time_point deadline)
{
    FNow = std::max(FNow, deadline);
}
