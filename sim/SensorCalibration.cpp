#include "SensorCalibration.h"

namespace sim {

void SensorCalibration::Start(Kind kind, Clock::time_point now)
{
    kind_ = kind;
    ends_ = now + length_;
}

std::optional<SensorCalibration::Clock::time_point> SensorCalibration::Deadline() const
{
    if (!kind_)
        return std::nullopt;
    return ends_;
}

std::optional<SensorCalibration::Result> SensorCalibration::Finish(Clock::time_point now)
{
    if (!kind_ || now < ends_)
        return std::nullopt;
    const Result result{*kind_, !fails_};
    kind_.reset();
    return result;
}

}  // namespace sim
