#pragma once
// What the protocol object needs of a serial line: open and close it, write
// a frame, read what has arrived without blocking, wait in the operating
// system for input, drop stale input, and the line's own clock for
// time-outs and pauses. TComm is the real port; TMemoryChannel is a line in
// memory with a clock of its own, for fuzzing and for fault tests that must
// not wait in real time.
#include <chrono>
#include <cstdint>
#include <string>

class ISerialChannel {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~ISerialChannel() = default;

    virtual void SetDeviceName(const std::string& name) = 0;
    virtual void SetBaudData(int baud) = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual bool Enabled() const = 0;
    // Bytes written, or -1 when the driver did not take them in time.
    virtual int Write(const std::uint8_t* buf, int count) = 0;
    // Returns at once with at most `count` bytes that have already arrived.
    virtual int Read(std::uint8_t* buf, int count) = 0;
    virtual void PurgeIn() = 0;
    // Blocks until input is waiting or `ms` passed; true when input waits.
    virtual bool WaitForInput(int ms) = 0;

    // The line's time: the monotonic clock for a real port.
    virtual Clock::time_point Now() const = 0;
    virtual void SleepUntil(Clock::time_point deadline) = 0;
};
