// Frame-rate smoothing and adaptation rules.
#include "core/FrameRateRules.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace Quarvel {

IntervalEstimate smoothInterval(IntervalEstimate estimate, int32_t frameCount, int64_t elapsedMs) {
    if (frameCount == 0) return {static_cast<float>(elapsedMs), estimate.smoothing};
    const float candidate = (1.0f - estimate.smoothing) * estimate.frameInterval +
                            estimate.smoothing * static_cast<float>(elapsedMs);
    if (!std::isfinite(candidate)) return estimate;
    return {candidate, 1.0f / 30.0f};
}

int32_t frameRateTarget(float fps) {
    const float floored = std::floor(fps);
    int32_t target;
    if (std::isnan(floored)) {
        target = 0;
    } else if (floored >= static_cast<float>(std::numeric_limits<int32_t>::max())) {
        target = std::numeric_limits<int32_t>::max();
    } else if (floored <= static_cast<float>(std::numeric_limits<int32_t>::min())) {
        target = std::numeric_limits<int32_t>::min();
    } else {
        target = static_cast<int32_t>(floored);
    }
    return target < 1 ? 1 : target;
}

bool frameRateNeedsChange(int32_t target, int current) {
    const int tolerance = current > 9 ? current / 10 : 1;
    return std::llabs(static_cast<long long>(target) - current) > tolerance;
}

}  // namespace Quarvel
