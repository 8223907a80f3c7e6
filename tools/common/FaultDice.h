// Reproducible chance for the sim's faults: the same seed gives the same sequence of decisions on
// every platform (no library distribution whose output may differ between implementations).
#pragma once

#include <cstdint>

class TFaultDice {
public:
    explicit TFaultDice(uint64_t seed) : FState(seed) {}

    // A uniform value in [0, 1) from the next 53 bits of a SplitMix64 sequence.
    double Next() {
        uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return double(z >> 11) * (1.0 / 9007199254740992.0);
    }
    // True with probability p; p = 0 never and p = 1 always, whatever the draw.
    bool Chance(double p) { return p > 0 && Next() < p; }

private:
    uint64_t FState;
};
