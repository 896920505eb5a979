#pragma once
// A clock for logging runs measured by their own work: time stands still
// while the run works and jumps to each deadline it waits for, so readings
// follow each other as fast as their exchanges allow; the run is asked to
// stop once `end` seconds have passed on it.
#include <QDateTime>

#include <algorithm>

#include "SensorClock.h"
#include "SensorLogging.h"

class TJumpingClock : public ISensorClock {
public:
    TJumpingClock(double end, TSensorLogRequests& requests) : FEnd(end), FRequests(requests) {}
    double Seconds() override { return FNow; }
    QDateTime LocalTime() override { return FStart.addMSecs(static_cast<qint64>(FNow * 1000)); }
    void WaitUntil(double deadline, TWakeup& wakeup) override
    {
        if (wakeup.TakeNotice())
            return;
        FNow = std::max(FNow, deadline);
        if (FNow >= FEnd)
            FRequests.Stop();
    }

private:
    QDateTime FStart = QDateTime::currentDateTime();
    double FNow = 0;
    double FEnd;
    TSensorLogRequests& FRequests;
};
