#pragma once
// The buzzer, the two LEDs and the vibrator, switched on from the tool's test
// page. The simulator has none of them, so it tells its console: one line when
// an output goes on, one when it goes off again (at the next command or when
// the connection ends) with how long it was on.
#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>

namespace sim {

class TestOutputs {
public:
    using Clock = std::chrono::steady_clock;

    explicit TestOutputs(std::ostream& console) : console_(console) {}
    TestOutputs(const TestOutputs&) = delete;
    TestOutputs& operator=(const TestOutputs&) = delete;

    // `command` is one of the four output commands; another one goes off first.
    void SwitchOn(std::uint8_t command, Clock::time_point now);
    // Nothing happens when no output is on.
    void SwitchOff(Clock::time_point now);

    static const char* NameOf(std::uint8_t command);

private:
    std::ostream& console_;
    std::optional<std::uint8_t> on_;
    Clock::time_point since_{};
};

}  // namespace sim
