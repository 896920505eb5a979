#include "GasSource.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sim {
namespace {

bool ParseNumber(const std::string& text, double& out)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

}  // namespace

GasSource::GasSource(double constant, std::vector<GasStep> steps) : constant_(constant), steps_(std::move(steps))
{
}

bool GasSource::LoadScript(const std::string& path, std::vector<GasStep>& steps, std::string& error)
{
    std::error_code failed;
    const std::uintmax_t size = std::filesystem::file_size(path, failed);
    std::ifstream in(path);
    if (failed || !in) {
        error = "cannot read gas script " + path;
        return false;
    }
    // Lines are read whole: a file without line ends must not fill memory.
    if (size > kMaxFileBytes) {
        error = "gas script " + path + " is larger than " + std::to_string(kMaxFileBytes) + " bytes";
        return false;
    }
    steps.clear();
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto where = [&] { return "gas script " + path + " line " + std::to_string(number) + ": "; };
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream fields(line);
        std::string seconds, value, extra;
        if (!(fields >> seconds))
            continue;
        GasStep step;
        if (!(fields >> value) || (fields >> extra)) {
            error = where() + "expected \"SECONDS VALUE\"";
            return false;
        }
        if (!ParseNumber(seconds, step.at) || step.at < 0.0) {
            error = where() + "bad time '" + seconds + "'";
            return false;
        }
        if (!ParseNumber(value, step.value) || std::fabs(step.value) > kMaxMagnitude) {
            error = where() + "bad value '" + value + "'";
            return false;
        }
        if (!steps.empty() && step.at <= steps.back().at) {
            error = where() + "times must increase";
            return false;
        }
        if (steps.size() >= kMaxSteps) {
            error = where() + "more than " + std::to_string(kMaxSteps) + " steps";
            return false;
        }
        steps.push_back(step);
    }
    if (in.bad()) {
        error = "cannot read gas script " + path;
        return false;
    }
    return true;
}

void GasSource::Apply(double at, double value)
{
    while (!steps_.empty() && steps_.back().at >= at)
        steps_.pop_back();
    if (steps_.size() >= kMaxSteps)
        steps_.erase(steps_.begin());
    steps_.push_back({at, std::clamp(value, -kMaxMagnitude, kMaxMagnitude)});
}

std::vector<GasStep> GasSource::StepsBetween(double from, double to) const
{
    std::vector<GasStep> inside;
    for (const GasStep& step : steps_)
        if (step.at > from && step.at < to)
            inside.push_back(step);
    return inside;
}

double GasSource::At(double t) const
{
    // The last step at or before t.
    const auto after = std::upper_bound(steps_.begin(), steps_.end(), t,
                                        [](double time, const GasStep& step) { return time < step.at; });
    return after == steps_.begin() ? constant_ : std::prev(after)->value;
}

double GasSource::MaxBetween(double from, double to) const
{
    double highest = At(to);
    if (to <= from)
        return highest;
    // The value current just after `from`, then every step up to `to`.
    highest = std::max(highest, At(from));
    for (const GasStep& step : steps_)
        if (step.at > from && step.at <= to)
            highest = std::max(highest, step.value);
    return highest;
}

double GasSource::MeanOver(double from, double to) const
{
    if (to <= from)
        return At(to);
    double area = 0.0;
    double t = from;
    double value = At(from);
    for (const GasStep& step : steps_) {
        if (step.at <= from)
            continue;
        if (step.at >= to)
            break;
        area += value * (step.at - t);
        t = step.at;
        value = step.value;
    }
    area += value * (to - t);
    return area / (to - from);
}

}  // namespace sim
