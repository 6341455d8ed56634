// Building blocks of the phase library: phase angle, box filter, denoise level tables.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sdk/phase/src/BoxFilter.h"
#include "sdk/phase/src/DepthPipeline.h"
#include "sdk/phase/src/FastPhase.h"

TEST(PhaseAngle, WithinTwoMicroradiansOfAtan2AllRoundTheCircle) {
    double worst = 0.0;
    for (int step = 0; step < 36000; ++step) {
        const double angle = step * (2.0 * M_PI / 36000.0);
        for (double magnitude : {1.0, 37.5, 4095.0}) {
            const float x = static_cast<float>(magnitude * std::cos(angle));
            const float y = static_cast<float>(magnitude * std::sin(angle));
            double exact = std::atan2(y, x);
            if (exact < 0) exact += 2.0 * M_PI;
            double error = std::fabs(si4c::phaseAngle(y, x) - exact);
            worst = std::max(worst, std::min(error, 2.0 * M_PI - error));  // 0 == 2 pi
        }
    }
    EXPECT_LT(worst, 2.5e-6);
    EXPECT_EQ(si4c::phaseAngle(0.0f, 0.0f), 0.0f);
}

TEST(BoxFilter, LinearRampPassesUnchangedIncludingBorders) {
    const int width = 23, height = 11;
    std::vector<float> original(width * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) original[y * width + x] = 3.0f * x - 7.0f * y + 100.0f;
    }
    std::vector<float> scratch(original.size());
    for (int radius : {0, 1, 2, 4, 30}) {
        std::vector<float> plane = original;
        si4c::boxFilterInPlace(plane.data(), scratch.data(), width, height, radius);
        for (size_t i = 0; i < plane.size(); ++i) {
            ASSERT_NEAR(plane[i], original[i], 1e-3) << "radius " << radius << " at " << i;
        }
    }
}

TEST(BoxFilter, AveragesTheWindowAndShrinksItAtTheBorder) {
    // 5x3 plane with a single 45 in the middle of the top row.
    std::vector<float> plane(15, 0.0f);
    plane[2] = 45.0f;
    std::vector<float> scratch(15);
    si4c::boxFilterInPlace(plane.data(), scratch.data(), 5, 3, 1);
    // Row 0 has no row above: its vertical window is that row alone; row 1 sees rows 0..2.
    const std::vector<float> expected = {0, 15, 15, 15, 0, 0, 5, 5, 5, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 15; ++i) EXPECT_NEAR(plane[i], expected[i], 1e-5) << i;
}

TEST(DenoiseLevels, MapToDocumentedRadiiAndWeights) {
    const int radii[] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 4};
    for (int level = 0; level <= 9; ++level) {
        EXPECT_EQ(si4c::spatialRadiusForLevel(level), radii[level]) << level;
    }
    EXPECT_EQ(si4c::temporalWeightForLevel(0), 1.0f);
    EXPECT_EQ(si4c::temporalWeightForLevel(1), 0.5f);
    EXPECT_EQ(si4c::temporalWeightForLevel(3), 0.25f);
}
