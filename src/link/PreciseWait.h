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

// Sets the calling thread's timer slack (how late the kernel may wake a
// sleeper to batch wake-ups; 50 us by default) for the lifetime of the
// object, and puts the old value back afterwards.
class TimerSlack {
public:
    explicit TimerSlack(unsigned long nanoseconds);
    ~TimerSlack();
    TimerSlack(const TimerSlack&) = delete;
    TimerSlack& operator=(const TimerSlack&) = delete;

private:
    long FPrevious;
};

}  // namespace precise
