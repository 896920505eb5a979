#pragma once
// A serial line in memory with a clock of its own. Every frame the tool
// writes goes to a responder, which says what the far end sends back: chunks
// of bytes, each arriving some time after the frame (a reply split across
// reads, stray bytes before it, silence). Waiting advances the line's clock
// instead of the wall clock, so a time-out of 100 ms costs nothing; this is
// what lets the exchange engine be fuzzed millions of times and fault tests
// run without waiting.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "SerialChannel.h"

class TMemoryChannel : public ISerialChannel {
public:
    struct Chunk {
        std::chrono::microseconds after{0};  // after the frame was written
        std::vector<std::uint8_t> bytes;
    };
    using Responder = std::function<std::vector<Chunk>(const std::vector<std::uint8_t>& frame)>;

    explicit TMemoryChannel(Responder responder);

    // The line vanishes (an unplugged adapter) at the given write: that
    // write and everything after it fail as on a real port.
    void LoseLineAtWrite(int writeIndex) { FLoseAt = writeIndex; }
    int Writes() const { return FWrites; }

    void SetDeviceName(const std::string&) override {}
    void SetBaudData(int) override {}
    void Open() override;
    void Close() override { FOpen = false; }
    bool Enabled() const override { return FOpen; }
    int Write(const std::uint8_t* buf, int count) override;
    int Read(std::uint8_t* buf, int count) override;
    void PurgeIn() override;
    bool WaitForInput(int ms) override;
    Clock::time_point Now() const override { return FNow; }
    void SleepUntil(Clock::time_point deadline) override;

private:
    struct Byte {
        Clock::time_point arrives;
        std::uint8_t value;
    };
    bool Arrived() const { return !FInput.empty() && FInput.front().arrives <= FNow; }
    void LoseLine();

    Responder FResponder;
    bool FOpen = false;
    bool FLost = false;
    int FWrites = 0;
    std::optional<int> FLoseAt;
    Clock::time_point FNow = Clock::time_point(std::chrono::hours(1));
    std::deque<Byte> FInput;  // in order of arrival
};
