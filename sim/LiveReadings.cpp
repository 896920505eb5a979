#include "LiveReadings.h"

#include <algorithm>

namespace sim {
namespace {

// Low two bits of the history byte: number of decimals of value and peak.
constexpr std::uint8_t kOneDecimal = 1;
constexpr std::uint8_t kTwoDecimals = 2;

RZELSensor Reading(int value, int peak, std::uint8_t decimals)
{
    RZELSensor reading{};
    reading.mSensor = static_cast<std::int16_t>(value);
    reading.mPeak = static_cast<std::uint16_t>(peak);
    reading.mHistory = decimals;
    reading.mAlarm = 0;
    return reading;
}

}  // namespace

RZELSensor LiveReadings::Read(Mode mode)
{
    switch (mode) {
    case kGas:
        return Gas();
    case kTemperature:
        return Temperature();
    case kBattery:
        return Battery();
    }
    return Gas();
}

RZELSensor LiveReadings::Gas()
{
    // Tenths of the gas unit around zero; an electrochemical cell drifts a
    // little either side in clean air. The peak only ever goes up.
    const int value = Uniform(-3, 5);
    gasPeak_ = std::max<std::int16_t>(gasPeak_, static_cast<std::int16_t>(value));
    return Reading(value, gasPeak_, kOneDecimal);
}

RZELSensor LiveReadings::Temperature()
{
    const int tenths = Uniform(230, 239);  // 23.0 .. 23.9 degrees C
    return Reading(tenths, tenths, kOneDecimal);
}

RZELSensor LiveReadings::Battery()
{
    const int hundredths = Uniform(300, 309);  // 3.00 .. 3.09 V
    return Reading(hundredths, hundredths, kTwoDecimals);
}

int LiveReadings::Uniform(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng_);
}

}  // namespace sim
