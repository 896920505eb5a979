#pragma once
// What the detector's sensor, thermometer and battery gauge report: clean air
// with a little noise, room temperature, a fresh battery.
#include <cstdint>
#include <random>

#include "ZelRecords.h"

namespace sim {

class LiveReadings {
public:
    enum Mode : std::uint8_t { kGas = 0, kTemperature = 1, kBattery = 2 };

    explicit LiveReadings(std::uint32_t seed) : rng_(seed) {}
    RZELSensor Read(Mode mode);

private:
    RZELSensor Gas();
    RZELSensor Temperature();
    RZELSensor Battery();
    int Uniform(int low, int high);

    std::mt19937 rng_;
    std::int16_t gasPeak_ = 0;
};

}  // namespace sim
