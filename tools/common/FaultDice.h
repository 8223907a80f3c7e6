// Reproducible chance for the sim's faults: the same seed gives the same sequence of decisions on
// every platform (no library distribution whose output may differ between implementations).
#pragma once

#include <cstdint>

class TFaultDice {
public:
    explicit TFaultDice(uint64_t seed) : FState(seed) {}

    // A uniform value in [0, 1) from the next 53 bits of a SplitMix64 sequence.
    double Next() {
        return double(Mix(FState += 0x9E3779B97F4A7C15ull) >> 11) * (1.0 / 9007199254740992.0);
    }

    // The seed of the n-th of several independent sequences drawn from one seed: the seed itself
    // for the first, so that one sequence alone is the seed's own.
    static uint64_t SeedOf(uint64_t seed, uint64_t n) { return n == 0 ? seed : Mix(seed ^ Mix(n)); }
    // True with probability p; p = 0 never and p = 1 always, whatever the draw.
    bool Chance(double p) { return p > 0 && Next() < p; }

private:
    // SplitMix64's output function.
    static uint64_t Mix(uint64_t z) {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    uint64_t FState;
};
