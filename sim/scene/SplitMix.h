// Counter-based random numbers for the simulation: reproducible from (seed, position) alone.
#pragma once

#include <cstdint>

namespace Quarvel {
namespace sim {

// One step of SplitMix64 applied to `state`: a well-mixed 64-bit value for each input.
inline uint64_t splitMix64(uint64_t state) {
    uint64_t z = state + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Sum of four uniforms (Irwin-Hall), scaled to unit variance: close to a normal variate but
// bounded, |value| <= kBoundedNormalLimit, so the worst case of the noise is known.
constexpr double kBoundedNormalLimit = 3.4641016151377544;  // 2 sqrt(3)

inline double boundedNormal(uint64_t bits) {
    const double sum = static_cast<double>(bits & 0xFFFF) + static_cast<double>((bits >> 16) & 0xFFFF) +
                       static_cast<double>((bits >> 32) & 0xFFFF) + static_cast<double>(bits >> 48);
    // Each 16-bit part is uniform on 0..65535; centre the sum and scale to variance 1.
    return (sum / 65536.0 - 2.0 + 2.0 / 65536.0) * 1.7320508075688772;
}

}  // namespace sim
}  // namespace Quarvel
