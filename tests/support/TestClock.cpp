#include "TestClock.h"

#include <algorithm>
#include <cmath>
#include <utility>

TestClock::TestClock(QDateTime start) : FStart(std::move(start)) {}

QDateTime TestClock::LocalTime()
{
    return FStart.addMSecs(std::llround(FNow * 1000.0));
}

void TestClock::At(double seconds, std::function<void()> action)
{
    FActions.emplace(seconds, std::move(action));
}

void TestClock::SetLimit(double seconds, std::function<void()> onLimit)
{
    FLimit = seconds;
    FOnLimit = std::move(onLimit);
}

void TestClock::WaitUntil(double deadline, TWakeup& wakeup)
{
    ++FWaits;
    if (wakeup.TakeNotice())
        return;
    if (!FActions.empty() && FActions.begin()->first <= deadline) {
        auto next = FActions.begin();
        FNow = std::max(FNow, next->first);
        std::function<void()> action = std::move(next->second);
        FActions.erase(next);
        action();
        return;
    }
    FNow = std::max(FNow, deadline);
    if (FNow > FLimit && FOnLimit) {
        std::function<void()> onLimit = std::move(FOnLimit);
        FOnLimit = nullptr;
        onLimit();
    }
}
