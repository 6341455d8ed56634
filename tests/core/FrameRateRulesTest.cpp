// Frame-rate smoothing and the adaptation rule, with exact answers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/FrameRateRules.h"

using namespace Quarvel;

TEST(FrameRateSmoothing, FirstIntervalIsTakenThenSmoothedWithATenthThenAThirtieth) {
    IntervalEstimate estimate{0.0f, 0.1f};
    estimate = smoothInterval(estimate, 0, 50);
    EXPECT_EQ(estimate.frameInterval, 50.0f);
    EXPECT_EQ(estimate.smoothing, 0.1f);
    estimate = smoothInterval(estimate, 1, 100);
    EXPECT_EQ(estimate.frameInterval, 0.9f * 50.0f + 0.1f * 100.0f);
    EXPECT_EQ(estimate.smoothing, 1.0f / 30.0f);
    const float before = estimate.frameInterval;
    estimate = smoothInterval(estimate, 2, 100);
    EXPECT_EQ(estimate.frameInterval, (1.0f - 1.0f / 30.0f) * before + (1.0f / 30.0f) * 100.0f);
}

TEST(FrameRateSmoothing, SettlesAtTheTrueRateAndIgnoresNonFiniteSteps) {
    IntervalEstimate estimate{0.0f, 0.1f};
    for (int frame = 0; frame < 300; ++frame) estimate = smoothInterval(estimate, frame, 100);
    EXPECT_FLOAT_EQ(1000.0f / estimate.frameInterval, 10.0f);
    const IntervalEstimate broken{INFINITY, 0.1f};
    const IntervalEstimate after = smoothInterval(broken, 5, 100);
    EXPECT_EQ(after.frameInterval, INFINITY);
    EXPECT_EQ(after.smoothing, 0.1f);  // the factor only changes on a finite update
}

TEST(FrameRateAdaptation, TargetIsTheFlooredRateAtLeastOne) {
    EXPECT_EQ(frameRateTarget(10.0f), 10);
    EXPECT_EQ(frameRateTarget(28.7f), 28);
    EXPECT_EQ(frameRateTarget(0.4f), 1);
    EXPECT_EQ(frameRateTarget(std::nanf("")), 1);
    EXPECT_EQ(frameRateTarget(INFINITY), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(frameRateTarget(-INFINITY), 1);
}

TEST(FrameRateAdaptation, ChangesOnlyBeyondTenPercentOrOneFrame) {
    EXPECT_TRUE(frameRateNeedsChange(10, 30));
    EXPECT_FALSE(frameRateNeedsChange(28, 30));  // |28 - 30| = 2 is not more than 3
    EXPECT_TRUE(frameRateNeedsChange(26, 30));
    EXPECT_FALSE(frameRateNeedsChange(33, 30));
    EXPECT_FALSE(frameRateNeedsChange(8, 9));  // up to 9 fps the tolerance is 1
    EXPECT_TRUE(frameRateNeedsChange(7, 9));
    EXPECT_TRUE(frameRateNeedsChange(std::numeric_limits<int32_t>::max(), 30));
}
