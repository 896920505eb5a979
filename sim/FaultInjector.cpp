#include "FaultInjector.h"

namespace sim {

FaultInjector::FaultInjector(double dropRate, double corruptRate, double nakRate, std::uint32_t seed)
    : dropRate_(dropRate), corruptRate_(corruptRate), nakRate_(nakRate), rng_(seed), lineRng_(seed ^ 0x51EEu)
{
}

void FaultInjector::SetLineFaults(double splitRate, double strayRate)
{
    splitRate_ = splitRate;
    strayRate_ = strayRate;
}

FaultPlan FaultInjector::Next()
{
    // Always three draws, so one fault's rate does not shift another's
    // sequence.
    FaultPlan plan;
    plan.drop = Roll(dropRate_);
    plan.nak = Roll(nakRate_);
    plan.corrupt = Roll(corruptRate_);
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    plan.split = draw(lineRng_) < splitRate_;
    plan.stray = draw(lineRng_) < strayRate_;
    return plan;
}

void FaultInjector::Corrupt(std::vector<std::uint8_t>& reply)
{
    if (reply.empty())
        return;
    std::uniform_int_distribution<std::size_t> pick(0, reply.size() - 1);
    reply[pick(rng_)] ^= 0xFF;
}

bool FaultInjector::Roll(double rate)
{
    const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
    return draw < rate;
}

}  // namespace sim
