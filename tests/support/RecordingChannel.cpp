#include "RecordingChannel.h"

#include "Comm.h"

namespace {

constexpr int kReadTimeoutMs = 10;
constexpr int kReadBufSize = 128;

}  // namespace

TRecordingChannel::TRecordingChannel(std::unique_ptr<ISerialChannel> line) : FLine(std::move(line)) {}

std::unique_ptr<TRecordingChannel> TRecordingChannel::OverSerialPort()
{
    auto port = std::make_unique<TComm>();
    port->SetReadTimeout(kReadTimeoutMs);
    port->SetReadBufSize(kReadBufSize);
    return std::make_unique<TRecordingChannel>(std::move(port));
}

int TRecordingChannel::Write(const std::uint8_t* buf, int count)
{
    {
        // Recorded before it goes out: a write that fails on a vanished
        // port was still an attempt that cost its time.
        const std::lock_guard<std::mutex> hold(FLock);
        FFrames.push_back({FLine->Now(), std::vector<std::uint8_t>(buf, buf + (count > 0 ? count : 0))});
    }
    return FLine->Write(buf, count);
}

std::vector<TRecordingChannel::Frame> TRecordingChannel::Frames() const
{
    const std::lock_guard<std::mutex> hold(FLock);
    return FFrames;
}

void TRecordingChannel::Forget()
{
    const std::lock_guard<std::mutex> hold(FLock);
    FFrames.clear();
}
