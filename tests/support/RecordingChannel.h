#pragma once
// A serial line that keeps every frame the tool writes, with the moment it
// was written, and otherwise passes everything through to the real line
// underneath. Fault tests count the exchanges a workflow made and the
// time-outs those exchanges were allowed, to bound how long it may take.
// Writes come from the link thread; the test reads the record after the
// operation ended, or at any time under the lock.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "SerialChannel.h"

class TRecordingChannel : public ISerialChannel {
public:
    struct Frame {
        Clock::time_point at;
        std::vector<std::uint8_t> bytes;
    };

    explicit TRecordingChannel(std::unique_ptr<ISerialChannel> line);
    // The tool's own serial port, set up as the protocol object sets up its
    // port (10 ms read time-out, 128-byte driver queue).
    static std::unique_ptr<TRecordingChannel> OverSerialPort();

    std::vector<Frame> Frames() const;
    void Forget();

    void SetDeviceName(const std::string& name) override { FLine->SetDeviceName(name); }
    void SetBaudData(int baud) override { FLine->SetBaudData(baud); }
    void Open() override { FLine->Open(); }
    void Close() override { FLine->Close(); }
    bool Enabled() const override { return FLine->Enabled(); }
    int Write(const std::uint8_t* buf, int count) override;
    int Read(std::uint8_t* buf, int count) override { return FLine->Read(buf, count); }
    void PurgeIn() override { FLine->PurgeIn(); }
    bool WaitForInput(int ms) override { return FLine->WaitForInput(ms); }
    Clock::time_point Now() const override { return FLine->Now(); }
    void SleepUntil(Clock::time_point deadline) override { FLine->SleepUntil(deadline); }

private:
    std::unique_ptr<ISerialChannel> FLine;
    mutable std::mutex FLock;
    std::vector<Frame> FFrames;
};
