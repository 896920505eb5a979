#pragma once
// Event logs for the simulated unit. Start times are the unit's life counter
// when the event began; the counter runs down, so an older event has the
// larger value. Lists are oldest first, as the unit stores them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ZelRecords.h"

namespace sim {

namespace event {
constexpr std::uint16_t kBumpTestBit = 0x8000;
constexpr std::uint16_t kDurationMask = 0x7FFF;
constexpr std::uint8_t kLowAlarm = 0x04;
constexpr std::uint8_t kHighAlarm = 0x08;
constexpr std::int16_t kOverLimit = 0x7FFF;
constexpr std::uint32_t kErasedStart = 0xFFFFFFFF;
}  // namespace event

struct AlarmTotals {
    std::uint16_t count = 0;      // alarm events (bump tests do not count)
    std::uint32_t seconds = 0;    // their durations added up
};

// What a new unit has been through: two bump tests and two alarms in the
// last nine days.
std::vector<RZELEvent> ShortHistory(std::uint32_t life);

// `count` events of every kind the log holds, in a cycle: a passed bump test,
// a low alarm, a high alarm, a bump test whose cell read below zero, an alarm
// over the sensor's range (0x7FFF), a short low alarm. Durations, readings
// and the gaps between events vary with `seed`. Every start time lies above
// `life` and, where the unit's service time allows, within it.
std::vector<RZELEvent> VariedHistory(std::size_t count, std::uint32_t life, std::uint32_t seed);

AlarmTotals TotalsOf(const std::vector<RZELEvent>& events);

}  // namespace sim
