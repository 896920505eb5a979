#include "SensorClock.h"

void TWakeup::Notify()
{
    {
        const std::lock_guard<std::mutex> hold(FLock);
        FNoticed = true;
    }
    FChanged.notify_all();
}

bool TWakeup::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> hold(FLock);
    FChanged.wait_until(hold, deadline, [this] { return FNoticed; });
    const bool noticed = FNoticed;
    FNoticed = false;
    return noticed;
}

bool TWakeup::TakeNotice()
{
    const std::lock_guard<std::mutex> hold(FLock);
    const bool noticed = FNoticed;
    FNoticed = false;
    return noticed;
}

TSystemClock::TSystemClock() : FOrigin(std::chrono::steady_clock::now()) {}

double TSystemClock::Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - FOrigin).count();
}

QDateTime TSystemClock::LocalTime()
{
    return QDateTime::currentDateTime();
}

void TSystemClock::WaitUntil(double deadline, TWakeup& wakeup)
{
    const auto at = FOrigin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(deadline));
    wakeup.WaitUntil(at);
}
