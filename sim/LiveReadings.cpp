#include "LiveReadings.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

namespace sim {
namespace {

constexpr double kTenthsPerUnit = 10.0;

// A 3.6 V lithium cell behind a divider onto a 10-bit converter with a
// 4.4 V full scale: 708 counts (the start-up limit) is about 3.05 V.
constexpr double kBatteryVolts = 3.58;
constexpr int kBatteryDecimals = 2;
constexpr double kBatteryCountsPerVolt = 1023.0 / 4.4;

// An NTC thermistor divider, close to linear around room temperature.
constexpr double kTemperatureC = 23.5;
constexpr int kTemperatureDecimals = 1;
constexpr double kThermistorCountsAt0C = 620.0;
constexpr double kThermistorCountsPerC = -8.0;

constexpr std::uint16_t kPeakMax = 0xFFFF;

double Scale(int decimals)
{
    return std::pow(10.0, decimals);
}

RZELSensor Reading(std::int64_t value, std::int64_t peak, std::uint8_t history, std::uint8_t alarms)
{
    RZELSensor reading{};
    reading.mSensor = static_cast<std::int16_t>(value);
    reading.mPeak = static_cast<std::uint16_t>(std::clamp<std::int64_t>(peak, 0, kPeakMax));
    reading.mHistory = history;
    reading.mAlarm = alarms;
    return reading;
}

}  // namespace

LiveReadings::LiveReadings(ReadingSettings settings, std::uint32_t seed, Clock::time_point start)
    : settings_(std::move(settings)), rng_(seed), start_(start)
{
    settings_.gasDecimals = std::clamp(settings_.gasDecimals, 0, 3);
    response_ = responseHighest_ = settings_.gas.At(0.0);
}

RZELSensor LiveReadings::Read(Mode mode, const RZELSensorCFG& sensor, std::uint8_t statusFlags, Clock::time_point now)
{
    PollControl(now);
    switch (mode) {
    case kGas:
        return Gas(sensor, statusFlags, now);
    case kTemperature:
        return Temperature();
    case kBattery:
        return Battery();
    }
    return Gas(sensor, statusFlags, now);
}

void LiveReadings::ClearPeak(Clock::time_point now)
{
    peakRaw_ = 0;
    peakSeenUntil_ = Seconds(now);
}

double LiveReadings::ConcentrationTenths(Clock::time_point now) const
{
    return ResponseAt(Seconds(now)) * kTenthsPerUnit;
}

std::int16_t LiveReadings::EventReading(const RZELSensorCFG& sensor, Clock::time_point now) const
{
    const double tenths = std::round(ConcentrationTenths(now));
    const std::uint16_t max = sensor.mSensorMax;
    if (tenths > max || tenths > kOverLimit)
        return kOverLimit;
    return static_cast<std::int16_t>(std::max(tenths, -32768.0));
}

RZELSensor LiveReadings::Gas(const RZELSensorCFG& sensor, std::uint8_t statusFlags, Clock::time_point now)
{
    const double t = Seconds(now);
    const double from = peakSeenUntil_;
    const double lagged = settings_.t90 > 0.0;
    double highest = 0.0;
    const double response = ResponseAt(t, &highest);
    Advance(t);
    const double value = response + Jitter(settings_.noiseTenths) / kTenthsPerUnit;
    // Set points and limits are whole tenths: compare in whole tenths, so
    // 15.0 reads as exactly the 150 it is.
    const double tenths = std::round(value * kTenthsPerUnit);
    const std::int64_t raw = Raw(value);

    // The cell keeps watching between two readings: a short burst of gas
    // shows in the peak even when nobody asked during it.
    const double seen = std::max(lagged ? highest : settings_.gas.MaxBetween(from, t), value);
    peakRaw_ = std::max(peakRaw_, Raw(seen));
    peakSeenUntil_ = t;

    const std::uint16_t sensorMax = sensor.mSensorMax;
    const bool overLimit = tenths > sensorMax || raw > kOverLimit;
    const std::int64_t reported = overLimit ? kOverLimit : std::max<std::int64_t>(raw, -32768);

    const std::uint16_t low = sensor.mAlarmLow;
    const std::uint16_t high = sensor.mAlarmHigh;
    std::uint8_t alarms = 0;
    const bool oxygen = sensor.mSensorType == kOxygenSensor;
    if (low != 0 && (oxygen ? tenths <= low : tenths >= low))
        alarms |= alarm::kLow;
    if (high != 0 && tenths >= high)
        alarms |= alarm::kHigh;
    const double stel = std::round(settings_.gas.MeanOver(std::max(0.0, t - kStelWindow), t) * kTenthsPerUnit);
    const double twa = std::round(settings_.gas.MeanOver(std::max(0.0, t - kTwaWindow), t) * kTenthsPerUnit);
    if (!oxygen && high != 0 && stel > high)
        alarms |= alarm::kStel;
    if (!oxygen && low != 0 && twa > low)
        alarms |= alarm::kTwa;

    const auto decimals = static_cast<std::uint8_t>(settings_.gasDecimals);
    const auto history = static_cast<std::uint8_t>((statusFlags & ~history::kDecimalsMask) | decimals);
    return Reading(reported, peakRaw_, history, alarms);
}

RZELSensor LiveReadings::Temperature()
{
    const double celsius = kTemperatureC + Jitter(settings_.noiseTenths > 0 ? 1.0 : 0.0) / Scale(kTemperatureDecimals);
    const auto value = static_cast<std::int64_t>(std::lround(celsius * Scale(kTemperatureDecimals)));
    const auto counts = std::lround(kThermistorCountsAt0C + celsius * kThermistorCountsPerC);
    return Reading(value, counts, kTemperatureDecimals, 0);
}

RZELSensor LiveReadings::Battery()
{
    const double volts = kBatteryVolts + Jitter(settings_.noiseTenths > 0 ? 1.0 : 0.0) / Scale(kBatteryDecimals);
    const auto value = static_cast<std::int64_t>(std::lround(volts * Scale(kBatteryDecimals)));
    const auto counts = std::lround(volts * kBatteryCountsPerVolt);
    return Reading(value, counts, kBatteryDecimals, 0);
}

double LiveReadings::Seconds(Clock::time_point now) const
{
    return std::max(0.0, std::chrono::duration<double>(now - start_).count());
}

double LiveReadings::ResponseAt(double t, double* highest) const
{
    if (settings_.t90 <= 0.0) {
        if (highest)
            *highest = settings_.gas.At(t);
        return settings_.gas.At(t);
    }
    double value = response_;
    double top = value;
    if (t > responseAt_) {
        // The gas is constant between steps: each stretch decays exactly
        // towards its value.
        const double tau = settings_.t90 / std::log(10.0);
        double at = responseAt_;
        auto stretch = [&](double until) {
            const double target = settings_.gas.At(at);
            value = target + (value - target) * std::exp(-(until - at) / tau);
            top = std::max(top, value);
            at = until;
        };
        for (const GasStep& step : settings_.gas.StepsBetween(responseAt_, t))
            stretch(step.at);
        stretch(t);
    }
    if (highest)
        *highest = top;
    return value;
}

void LiveReadings::Advance(double t)
{
    if (t <= responseAt_)
        return;
    response_ = ResponseAt(t);
    responseAt_ = t;
}

void LiveReadings::PollControl(Clock::time_point now)
{
    if (settings_.controlPath.empty())
        return;
    std::ifstream in(settings_.controlPath);
    if (!in)
        return;
    std::string text(std::istreambuf_iterator<char>(in), {});
    if (text.size() > 64 || text == controlText_)
        return;
    std::istringstream fields(text);
    double value = 0.0;
    std::string extra;
    // A file caught half written is read again at the next reading.
    if (!(fields >> value) || (fields >> extra) || !std::isfinite(value))
        return;
    controlText_ = text;
    const double t = Seconds(now);
    Advance(t);
    settings_.gas.Apply(t, value);
}

std::int64_t LiveReadings::Raw(double value) const
{
    const double raw = std::round(value * Scale(settings_.gasDecimals));
    // Far outside what 16 bits hold; the callers clamp to the record's range.
    return static_cast<std::int64_t>(std::clamp(raw, -1e9, 1e9));
}

double LiveReadings::Jitter(double amplitude)
{
    if (amplitude <= 0.0)
        return 0.0;
    // Whole steps: tenths of the gas unit, or the last digit of the battery
    // and temperature values.
    const int steps = static_cast<int>(std::lround(amplitude));
    return std::uniform_int_distribution<int>(-steps, steps)(rng_);
}

}  // namespace sim
