#pragma once
// Record of the line as the detector saw it: "RX .." for every frame it
// received, "TX .." for every reply it put on the wire (after any damage the
// fault injection did). Each line is written and flushed on its own, so a test
// can read the file while the simulator runs.
#include <cstdint>
#include <span>
#include <string>

namespace sim {

class FrameRecorder {
public:
    FrameRecorder() = default;
    FrameRecorder(const FrameRecorder&) = delete;
    FrameRecorder& operator=(const FrameRecorder&) = delete;
    ~FrameRecorder();

    bool Open(const std::string& path, std::string& error);
    void Received(std::span<const std::uint8_t> frame) { Line("RX ", frame); }
    void Sent(std::span<const std::uint8_t> reply) { Line("TX ", reply); }

private:
    void Line(const char* prefix, std::span<const std::uint8_t> bytes);

    int fd_ = -1;
};

}  // namespace sim
