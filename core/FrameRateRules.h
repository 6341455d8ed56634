// The arithmetic of the frame-rate measurement and of its automatic adaptation.
#pragma once

#include <cstdint>

namespace Quarvel {

struct IntervalEstimate {
    float frameInterval;  // smoothed milliseconds between delivered frames
    float smoothing;      // weight of the newest interval
};

// Folds the newest interval (whole milliseconds) into the estimate. The first frame of the
// camera's life sets the interval outright; a non-finite result leaves the estimate as it was.
IntervalEstimate smoothInterval(IntervalEstimate estimate, int32_t frameCount, int64_t elapsedMs);

// The frame rate the adaptation aims for: floor of the measured rate, saturated, at least 1.
int32_t frameRateTarget(float fps);

// True when `target` differs from `current` by more than 10 % (more than 1 up to 9 fps).
bool frameRateNeedsChange(int32_t target, int current);

}  // namespace Quarvel
