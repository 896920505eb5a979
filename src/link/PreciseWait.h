#pragma once
#include <chrono>

// Short pauses on the wire (1 ms after an exchange, 1.05 ms between wake-up
// frames, 4 ms after a firmware frame). They sleep in the kernel on the
// monotonic clock instead of spinning, so the CPU stays idle.
namespace precise {

using Clock = std::chrono::steady_clock;

void SleepUntil(Clock::time_point deadline);
void SleepFor(double milliseconds);
Clock::time_point DeadlineAfter(double milliseconds);

}  // namespace precise
