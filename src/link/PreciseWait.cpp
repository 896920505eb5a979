#include "PreciseWait.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace precise {

Clock::time_point DeadlineAfter(double milliseconds)
{
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double, std::milli>(milliseconds));
}

void SleepUntil(Clock::time_point deadline)
{
    // steady_clock is CLOCK_MONOTONIC on Linux, so an absolute sleep on that
    // clock cannot drift and survives signal interruptions.
    const auto since = deadline.time_since_epoch();
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since - secs);
    timespec ts{static_cast<time_t>(secs.count()), static_cast<long>(nanos.count())};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

TimerSlack::TimerSlack(unsigned long nanoseconds) : FPrevious(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0))
{
    ::prctl(PR_SET_TIMERSLACK, nanoseconds, 0, 0, 0);
}

TimerSlack::~TimerSlack()
{
    if (FPrevious > 0)
        ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(FPrevious), 0, 0, 0);
}

void SleepFor(double milliseconds)
{
    if (milliseconds > 0)
        SleepUntil(DeadlineAfter(milliseconds));
}

}  // namespace precise
