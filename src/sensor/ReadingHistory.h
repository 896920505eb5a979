#pragma once
// What the logging chart draws: the last 10,000 gas readings and the bottom
// axis that follows them. A ring buffer, so a reading costs the same whether
// the history holds ten points or ten thousand.
#include <QList>
#include <QPointF>

#include <array>
#include <cstddef>

// Elapsed seconds of the run and the gas value, oldest to newest.
class TReadingHistory {
public:
    static constexpr int kCapacity = 10000;

    void Clear() { FCount = 0; }
    void Add(double seconds, float value);
    int Count() const { return FCount; }
    // The points with a time of at least `seconds`, oldest first. Only the
    // newest kCapacity - 1 points are looked at, as the chart has always
    // done; the newest point is always included.
    QList<QPointF> PointsSince(double seconds) const;

private:
    struct RPoint {
        double seconds;
        float value;
    };
    const RPoint& Newest(int age) const;  // age 0 = newest

    std::array<RPoint, kCapacity> FPoints{};
    int FNext = 0;   // slot of the next point
    int FCount = 0;
};

// The chart's bottom axis: it shows `displayTime` seconds, starting at 0.
// When a reading falls beyond the right end, the axis moves on in steps of a
// tenth of its width until the reading is inside again.
class TChartAxis {
public:
    explicit TChartAxis(double displayTime);

    void Reset();
    // True when the axis moved to take `seconds` in.
    bool Follow(double seconds);

    double Min() const { return Max() - FDisplayTime; }
    double Max() const;
    double Increment() const { return FDisplayTime / 10.0; }

private:
    double FDisplayTime;
    // The maximum is displayTime * (10 + steps) / 10, computed afresh from
    // the step count, so a width such as 123 s never drifts.
    long long FSteps = 0;
};
