// Polynomial atan2 for the per-pixel phase: branch-free so that pixel loops vectorise.
#pragma once

#include <algorithm>
#include <cmath>

namespace si4c {

constexpr float kPi = 3.14159265358979f;
constexpr float kHalfPi = 1.57079632679490f;
constexpr float kTwoPi = 6.28318530717959f;

// The three steps of phaseAngle, for loops that keep them apart (see FramePassSteps.inc).
// phaseRatio: min(|x|, |y|) / max(|x|, |y|), 0 for the null vector.
inline float phaseRatio(float y, float x) {
    const float ax = std::fabs(x);
    const float ay = std::fabs(y);
    const float larger = std::max(ax, ay);
    const float smaller = std::min(ax, ay);
    return larger > 0.0f ? smaller / larger : 0.0f;
}

// atanOfRatio: atan(a) for a in [0, 1] by the polynomial.
inline float atanOfRatio(float a) {
    const float s = a * a;
    float r = -0.01172120f;
    r = r * s + 0.05265332f;
    r = r * s - 0.11643287f;
    r = r * s + 0.19354346f;
    r = r * s - 0.33262347f;
    r = r * s + 0.99997726f;
    return r * a;
}

// angleFromOctant: the angle of (x, y) from r = atanOfRatio(phaseRatio(y, x)).
inline float angleFromOctant(float r, float y, float x) {
    const float ax = std::fabs(x);
    const float ay = std::fabs(y);
    r = ay > ax ? kHalfPi - r : r;
    r = x < 0.0f ? kPi - r : r;
    r = y < 0.0f ? kTwoPi - r : r;
    return r;
}

// Phase angle of the vector (x, y) in [0, 2 pi]; 0 for the null vector. The polynomial for
// atan on [0, 1] is within 2e-6 rad of the true value: 0.0008 mm at a 2250 mm range.
inline float phaseAngle(float y, float x) {
    return angleFromOctant(atanOfRatio(phaseRatio(y, x)), y, x);
}

}  // namespace si4c
