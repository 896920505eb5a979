#pragma once
// A clock for the sensor tools that the test drives: time stands still while
// the workflow works, and a wait jumps straight to its deadline, or to the
// next scheduled action when that comes first. A logging hour or a
// three-minute calibration runs in the time its exchanges take.
#include <QDateTime>

#include <functional>
#include <map>

#include "SensorClock.h"

class TestClock : public ISensorClock {
public:
    // Local time at second 0 of the clock.
    explicit TestClock(QDateTime start = QDateTime(QDate(2024, 3, 5), QTime(9, 30, 0)));

    double Seconds() override { return FNow; }
    QDateTime LocalTime() override;
    void WaitUntil(double deadline, TWakeup& wakeup) override;

    // Runs `action` on the workflow's own thread, inside the first wait that
    // reaches `seconds`. Actions of the same second run in the order given.
    void At(double seconds, std::function<void()> action);
    // A workflow still waiting after this many virtual seconds gets
    // `onLimit` called once (a test would otherwise never end).
    void SetLimit(double seconds, std::function<void()> onLimit);
    // Moves the clock on without waiting, as a slow exchange would.
    void Advance(double seconds) { FNow += seconds; }

    int Waits() const { return FWaits; }

private:
    QDateTime FStart;
    double FNow = 0;
    int FWaits = 0;
    std::multimap<double, std::function<void()>> FActions;
    double FLimit = 1e7;
    std::function<void()> FOnLimit;
};
