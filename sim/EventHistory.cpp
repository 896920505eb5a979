#include "EventHistory.h"

#include <algorithm>
#include <random>

namespace sim {
namespace {

using namespace event;

constexpr std::uint32_t kHour = 3600;

// A short, plausible history: two bump tests with span gas and two alarms.
struct PastEvent {
    std::uint32_t age;  // seconds before the unit was first switched on here
    std::uint16_t duration;
    std::uint8_t flags;
    std::int16_t reading;
};
constexpr PastEvent kShortHistory[] = {
    {9 * zel::kDaySeconds, kBumpTestBit | 45, 0, 251},
    {6 * zel::kDaySeconds + 5 * kHour, 95, kLowAlarm, 124},
    {3 * zel::kDaySeconds + 2 * kHour, 310, kLowAlarm | kHighAlarm, kOverLimit},
    {1 * zel::kDaySeconds, kBumpTestBit | 60, 0, 248},
};

// One kind of event: its flags and the ranges its duration and reading
// (tenths of the gas unit, against the default set points 10.0 and 15.0)
// are drawn from.
struct EventKind {
    bool bump;
    std::uint8_t flags;
    std::uint16_t shortest;
    std::uint16_t longest;
    std::int16_t lowest;
    std::int16_t highest;
};
constexpr EventKind kKinds[] = {
    {true, 0, 30, 90, 235, 265},                                // bump test with span gas
    {false, kLowAlarm, 15, 600, 100, 149},                      // low alarm
    {false, kLowAlarm | kHighAlarm, 60, 1800, 150, 950},        // high alarm
    {true, 0, 30, 90, -30, -1},                                 // bump test, cell below zero
    {false, kLowAlarm | kHighAlarm, 120, 3600, kOverLimit, kOverLimit},  // over range
    {false, kLowAlarm, 5, 60, 100, 130},                        // brief low alarm
};
constexpr std::size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

constexpr std::uint32_t kNewestAgeMin = kHour;
constexpr std::uint32_t kNewestAgeMax = zel::kDaySeconds;
constexpr std::uint32_t kGapMin = 2 * kHour;
constexpr std::uint32_t kGapMax = 4 * zel::kDaySeconds;

std::uint32_t StartFor(std::uint32_t life, std::uint64_t age)
{
    // Never the erased value: that would end the log early.
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{life} + age, kErasedStart - 1));
}

// Ages (seconds before now) of `count` events, newest first, strictly
// increasing. Squeezed into the unit's time in service when they would
// reach back before its first day.
std::vector<std::uint64_t> Ages(std::size_t count, std::uint32_t life, std::mt19937& rng)
{
    std::vector<std::uint64_t> ages(count);
    std::uint64_t age = std::uniform_int_distribution<std::uint32_t>(kNewestAgeMin, kNewestAgeMax)(rng);
    for (std::size_t i = 0; i < count; ++i) {
        ages[i] = age;
        age += std::uniform_int_distribution<std::uint32_t>(kGapMin, kGapMax)(rng);
    }
    const std::uint64_t inService = life < zel::kFullLife ? zel::kFullLife - life : 0;
    if (count == 0 || ages.back() <= inService)
        return ages;
    const double scale = static_cast<double>(inService) / static_cast<double>(ages.back());
    for (std::size_t i = 0; i < count; ++i) {
        ages[i] = static_cast<std::uint64_t>(static_cast<double>(ages[i]) * scale);
        // Every event lies in the past and has a key of its own, even on a
        // unit that has hardly been in service.
        const std::uint64_t floor = i == 0 ? 1 : ages[i - 1] + 1;
        ages[i] = std::max(ages[i], floor);
    }
    return ages;
}

}  // namespace

std::vector<RZELEvent> ShortHistory(std::uint32_t life)
{
    std::vector<RZELEvent> events;
    for (const PastEvent& past : kShortHistory) {
        RZELEvent e{};
        // Start times never lie before the unit's first day of service.
        e.mStartEvent = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{life} + past.age, zel::kFullLife));
        e.mDurationEvent = past.duration;
        e.mAlarmStatusFlag = past.flags;
        e.mSensorReading = past.reading;
        events.push_back(e);
    }
    return events;
}

std::vector<RZELEvent> VariedHistory(std::size_t count, std::uint32_t life, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    const std::vector<std::uint64_t> ages = Ages(count, life, rng);
    std::vector<RZELEvent> events(count);
    // Built newest first, so the newest events always show every kind.
    for (std::size_t i = 0; i < count; ++i) {
        const EventKind& kind = kKinds[i % kKindCount];
        RZELEvent e{};
        e.mStartEvent = StartFor(life, ages[i]);
        const auto duration = std::uniform_int_distribution<int>(kind.shortest, kind.longest)(rng);
        e.mDurationEvent = static_cast<std::uint16_t>((duration & kDurationMask) | (kind.bump ? kBumpTestBit : 0));
        e.mAlarmStatusFlag = kind.flags;
        e.mSensorReading = static_cast<std::int16_t>(std::uniform_int_distribution<int>(kind.lowest, kind.highest)(rng));
        events[count - 1 - i] = e;
    }
    return events;
}

AlarmTotals TotalsOf(const std::vector<RZELEvent>& events)
{
    AlarmTotals totals;
    for (const RZELEvent& e : events) {
        const std::uint16_t duration = e.mDurationEvent;
        if (duration & kBumpTestBit)
            continue;
        ++totals.count;
        totals.seconds += duration;
    }
    return totals;
}

}  // namespace sim
