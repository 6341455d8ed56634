// The octant offsets of the float-pair phase kernel (HqvgaPhaseKernelNeon.cpp): offset
// +/- atan(k / 64) for each octant kind, as float pairs.
#pragma once

#include <cmath>

namespace Quarvel {
namespace hqvga {

constexpr int kOffsetSteps = 64;                        // atan(k / 64), k = 0..64
constexpr int kOffsetEntries = 4 * (kOffsetSteps + 1);  // four octant kinds
// Lanes whose |lo| lies within this share of the angle of half an ulp take the exact path:
// 2^-33, some eight times the pairs' worst error.
constexpr float kPairMarginScale = 1.0f / 8589934592.0f;

// Index kind * 65 + k. Kinds, with a = y and b = x the sample differences:
//   0: |a| <= |b|, b >= 0:  atan(k/64)         2: |a| > |b|, b >= 0:  pi/2 - atan(k/64)
//   1: |a| <= |b|, b < 0:   pi - atan(k/64)    3: |a| > |b|, b < 0:   pi/2 + atan(k/64)
// hi is the double offset rounded to float, lo the rest rounded: together some 48 bits.
// Stored side by side (pairs[2 i] = hi, pairs[2 i + 1] = lo): one load fetches both.
struct PhaseOffsetTable {
    float pairs[2 * kOffsetEntries];
    PhaseOffsetTable() {
        const double pi = 3.14159265358979323846;
        for (int kind = 0; kind < 4; ++kind) {
            for (int k = 0; k <= kOffsetSteps; ++k) {
                const double angle = std::atan(static_cast<double>(k) / kOffsetSteps);
                const double offsets[4] = {angle, pi - angle, pi / 2 - angle, pi / 2 + angle};
                const int at = kind * (kOffsetSteps + 1) + k;
                const float hi = static_cast<float>(offsets[kind]);
                pairs[2 * at] = hi;
                pairs[2 * at + 1] = static_cast<float>(offsets[kind] - static_cast<double>(hi));
            }
        }
    }
};

// Built on first use. Thread-safe.
inline const PhaseOffsetTable& phaseOffsetTable() {
    static const PhaseOffsetTable table;
    return table;
}

}  // namespace hqvga
}  // namespace Quarvel
