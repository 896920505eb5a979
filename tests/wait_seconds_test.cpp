#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include "WaitSeconds.h"

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(WaitSeconds, WaitsItsTimeHandlesEventsAndStaysIdle)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(100);
    QElapsedTimer clock;
    clock.start();
    const double cpu = CpuSeconds();
    WaitSeconds(0.55f);
    const qint64 ms = clock.elapsed();
    EXPECT_GE(ms, 550);
    EXPECT_LT(ms, 900);
    EXPECT_GE(ticks, 4) << "timer events were handled during the wait";
    EXPECT_LT(CpuSeconds() - cpu, 0.1) << "the wait sleeps instead of spinning";
}

TEST(WaitSeconds, ZeroAndNegativeReturnAtOnce)
{
    QElapsedTimer clock;
    clock.start();
    WaitSeconds(0.0f);
    WaitSeconds(-1.0f);
    EXPECT_LT(clock.elapsed(), 50);
}

}  // namespace
