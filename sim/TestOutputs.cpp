#include "TestOutputs.h"

#include "SimProtocol.h"

#include <cstdio>

namespace sim {

const char* TestOutputs::NameOf(std::uint8_t command)
{
    switch (command) {
    case cmd::kBuzzer:
        return "buzzer";
    case cmd::kRightLed:
        return "right LED";
    case cmd::kLeftLed:
        return "left LED";
    case cmd::kVibrator:
        return "vibrator";
    default:
        return "output";
    }
}

void TestOutputs::SwitchOn(std::uint8_t command, Clock::time_point now)
{
    SwitchOff(now);
    on_ = command;
    since_ = now;
    console_ << "varnolite-sim: " << NameOf(command) << " on" << std::endl;
}

void TestOutputs::SwitchOff(Clock::time_point now)
{
    if (!on_)
        return;
    const double seconds = std::chrono::duration<double>(now - since_).count();
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.2f", seconds < 0 ? 0.0 : seconds);
    console_ << "varnolite-sim: " << NameOf(*on_) << " off after " << duration << " s" << std::endl;
    on_.reset();
}

}  // namespace sim
