// Noise of a simulated ToF pixel: photon shot noise and read noise, bounded and seeded.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "sim/scene/SplitMix.h"

namespace Quarvel {
namespace sim {

// Noise in ADC units (LSB). Shot noise variance is the collected charge divided by the
// conversion gain; read noise adds once per read-out. The variates are bounded (see
// boundedNormal), so no sample is ever further than kLimitSigmas x sigma from its mean
// before rounding to an integer.
struct NoiseModel {
    bool enabled = true;
    double electronsPerLsb = 32.0;
    double readNoiseLsb = 0.7;
    uint64_t seed = 1;

    static constexpr double kLimitSigmas = kBoundedNormalLimit;

    // Standard deviation of a value made of `reads` read-outs holding `chargeLsb` in total.
    double sigma(double chargeLsb, int reads) const {
        if (!enabled) return 0.0;
        return std::sqrt(std::max(0.0, chargeLsb) / electronsPerLsb +
                         reads * readNoiseLsb * readNoiseLsb);
    }

    // Start of the variate stream of one read-out (frame, part); variate i of it is
    // variate(stream, i). Pure functions of the seed: frames can be re-created exactly.
    uint64_t stream(uint64_t frame, uint64_t part) const {
        return splitMix64(seed ^ splitMix64(frame * 0x100000001B3ull + part));
    }
    static double variate(uint64_t stream, uint64_t index) {
        return boundedNormal(splitMix64(stream + index * 0x9E3779B97F4A7C15ull));
    }
};

}  // namespace sim
}  // namespace Quarvel
