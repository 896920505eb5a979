#pragma once
// What the detector's sensor, thermometer and battery gauge report.
//
// Gas: the concentration of the gas source plus noise, in units of 10^-d of
// the gas unit (d = the configured decimals, also in the low two bits of the
// history byte). Above the sensor block's maximum the value is 0x7FFF (over
// limit). The peak is the highest value the cell has seen since the last
// clear, also between two readings. Alarm flags:
//   LOW, HIGH  the reading at or above the sensor block's low / high set point
//              (tenths; a set point of 0 is switched off)
//   STEL       the mean concentration of the last 15 minutes above the high
//              set point
//   TWA        the mean concentration of the last 8 hours above the low set
//              point
// The two means cover the time since the simulator started while it has run
// for less than their window, so they respond within a demonstration.
//
// Response: with a t90 the reading follows the gas as a first-order lag
// (90 % of a step after t90 seconds), as an electrochemical cell does.
// Oxygen cells (sensor type 4) alarm LOW at or below the low set point, on a
// falling reading, and have no STEL or TWA.
//
// Control file: a file holding one value; whenever its content changes the
// gas becomes that value from that moment on (a test or demonstration
// applying and removing a cylinder while the simulator runs).
//
// Battery: volts with two decimals, temperature: degrees C with one decimal;
// both report the raw converter count of their input in the peak field.
#include <chrono>
#include <cstdint>
#include <random>
#include <string>

#include "GasSource.h"
#include "ZelRecords.h"

namespace sim {

struct ReadingSettings {
    GasSource gas;
    double noiseTenths = 3.0;  // gas noise amplitude; 0 makes every value exact
    int gasDecimals = 1;       // 0..3
    double t90 = 0.0;          // seconds; 0 for a reading that follows at once
    std::string controlPath;   // empty for none
};

constexpr std::uint8_t kOxygenSensor = 4;
constexpr double kOxygenInAir = 20.9;  // % by volume

namespace history {
constexpr std::uint8_t kDecimalsMask = 0x03;
constexpr std::uint8_t kSelfTestFail = 0x04;
constexpr std::uint8_t kCalibrationFail = 0x08;
constexpr std::uint8_t kBumpTestFail = 0x10;
constexpr std::uint8_t kCalibrationDue = 0x20;
constexpr std::uint8_t kBumpDue = 0x40;
constexpr std::uint8_t kCalibrationProgress = 0x80;
}  // namespace history

namespace alarm {
constexpr std::uint8_t kTwa = 0x01;
constexpr std::uint8_t kStel = 0x02;
constexpr std::uint8_t kLow = 0x04;
constexpr std::uint8_t kHigh = 0x08;
}  // namespace alarm

class LiveReadings {
public:
    using Clock = std::chrono::steady_clock;
    enum Mode : std::uint8_t { kGas = 0, kTemperature = 1, kBattery = 2 };

    static constexpr std::int16_t kOverLimit = 0x7FFF;
    static constexpr double kStelWindow = 15 * 60.0;
    static constexpr double kTwaWindow = 8 * 3600.0;

    LiveReadings(ReadingSettings settings, std::uint32_t seed, Clock::time_point start);

    // `statusFlags`: history bits 2..7 the unit itself knows (calibration,
    // bump test); the gas reading carries them beside its decimals.
    RZELSensor Read(Mode mode, const RZELSensorCFG& sensor, std::uint8_t statusFlags, Clock::time_point now);
    void ClearPeak(Clock::time_point now);
    // Takes up a new value of the control file.
    void PollControl(Clock::time_point now);

    // The noise-free concentration now, in tenths of the gas unit.
    double ConcentrationTenths(Clock::time_point now) const;
    // The reading an event record keeps: tenths, 0x7FFF over the limit.
    std::int16_t EventReading(const RZELSensorCFG& sensor, Clock::time_point now) const;

private:
    RZELSensor Gas(const RZELSensorCFG& sensor, std::uint8_t statusFlags, Clock::time_point now);
    RZELSensor Temperature();
    RZELSensor Battery();
    double Seconds(Clock::time_point now) const;
    // The cell's response at t from the state last stored; Advance stores it
    // and the highest response on the way.
    double ResponseAt(double t, double* highest = nullptr) const;
    void Advance(double t);
    // Raw value in the gas reading's units for a concentration in the gas unit.
    std::int64_t Raw(double value) const;
    double Jitter(double amplitude);

    ReadingSettings settings_;
    std::mt19937 rng_;
    Clock::time_point start_;
    std::int64_t peakRaw_ = 0;
    double peakSeenUntil_ = 0.0;
    double responseAt_ = 0.0;
    double response_ = 0.0;
    double responseHighest_ = 0.0;
    std::string controlText_;
};

}  // namespace sim
