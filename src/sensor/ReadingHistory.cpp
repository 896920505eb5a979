#include "ReadingHistory.h"

#include <algorithm>

void TReadingHistory::Add(double seconds, float value)
{
    FPoints[static_cast<std::size_t>(FNext)] = {seconds, value};
    FNext = (FNext + 1) % kCapacity;
    FCount = std::min(FCount + 1, kCapacity);
}

const TReadingHistory::RPoint& TReadingHistory::Newest(int age) const
{
    const int slot = (FNext - 1 - age + 2 * kCapacity) % kCapacity;
    return FPoints[static_cast<std::size_t>(slot)];
}

QList<QPointF> TReadingHistory::PointsSince(double seconds) const
{
    const int depth = std::min(FCount, kCapacity - 1);
    // Times only grow, so the points that qualify are the newest ones.
    int oldest = 0;
    while (oldest + 1 < depth && Newest(oldest + 1).seconds >= seconds)
        ++oldest;
    QList<QPointF> points;
    if (FCount == 0)
        return points;
    points.reserve(oldest + 1);
    for (int age = oldest; age >= 0; --age) {
        const RPoint& p = Newest(age);
        points.append(QPointF(p.seconds, static_cast<double>(p.value)));
    }
    return points;
}

// The settings keep the width at 100 s or more; a width of nothing would
// never let a reading in.
TChartAxis::TChartAxis(double displayTime) : FDisplayTime(displayTime > 0 ? displayTime : 1.0) {}

void TChartAxis::Reset()
{
    FSteps = 0;
}

double TChartAxis::Max() const
{
    return FDisplayTime * static_cast<double>(10 + FSteps) / 10.0;
}

bool TChartAxis::Follow(double seconds)
{
    if (seconds <= Max())
        return false;
    while (Max() < seconds)
        ++FSteps;
    return true;
}
