#pragma once
// Line faults for training and for testing the tool's error paths. Each frame
// that the detector answers rolls once for each kind of fault, from a seeded
// generator, so a run with the same seed and the same traffic fails the same
// way.
#include <cstdint>
#include <random>
#include <vector>

namespace sim {

struct FaultPlan {
    bool drop = false;     // the reply never reaches the PC
    bool nak = false;      // the detector refuses the frame instead
    bool corrupt = false;  // one reply byte arrives damaged
    bool split = false;    // the reply arrives in two parts, a little apart
    bool stray = false;    // a stray byte arrives just before the reply
};

class FaultInjector {
public:
    FaultInjector(double dropRate, double corruptRate, double nakRate, std::uint32_t seed);
    // Faults of the line's timing and noise, drawn from a stream of their own
    // so that seeded runs of the other faults stay as they were.
    void SetLineFaults(double splitRate, double strayRate);

    FaultPlan Next();
    // Inverts one byte of the reply; a CRC-16 catches every such change.
    void Corrupt(std::vector<std::uint8_t>& reply);

private:
    bool Roll(double rate);

    double dropRate_;
    double corruptRate_;
    double nakRate_;
    double splitRate_ = 0.0;
    double strayRate_ = 0.0;
    std::mt19937 lineRng_;
    std::mt19937 rng_;
};

}  // namespace sim
