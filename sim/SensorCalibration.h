#pragma once
// A span or zero-then-span calibration running inside the detector. It goes
// on by the unit's own clock whether or not the PC is connected: the tool
// opens and closes the link around every poll while it waits.
#include <chrono>
#include <optional>

namespace sim {

class SensorCalibration {
public:
    using Clock = std::chrono::steady_clock;
    enum class Kind { Span, ZeroSpan };
    struct Result {
        Kind kind;
        bool passed;
    };

    SensorCalibration(Clock::duration length, bool fails) : length_(length), fails_(fails) {}

    bool Running() const { return kind_.has_value(); }
    void Start(Kind kind, Clock::time_point now);
    // Stopped from the PC: nothing is taken.
    void Stop() { kind_.reset(); }
    // When the running calibration is due to end.
    std::optional<Clock::time_point> Deadline() const;
    // Ends the calibration once its time has come and says how it went.
    std::optional<Result> Finish(Clock::time_point now);

private:
    Clock::duration length_;
    bool fails_;
    std::optional<Kind> kind_;
    Clock::time_point ends_{};
};

}  // namespace sim
