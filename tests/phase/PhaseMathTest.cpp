// Building blocks of the phase library: phase angle, box filter, denoise level tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sdk/phase/src/BoxFilter.h"
#include "sdk/phase/src/BoxFilterRows.h"
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

// The decoded correlation (differences of 12-bit samples) is filtered as 16-bit integers: the
// floats must be those of filtering the same values as floats, as the numpy twin does: window
// sums left to right, times 1 / (2r + 1) inside, divided by 2r + 1 in the shrunk border
// windows. Rows at the extremes make 16-bit sums overflow if a window were too long for them.
TEST(BoxFilter, IntegerRowsGiveTheFloatsOfTheirValuesAsFloats) {
    auto model = [](const std::vector<float>& row, int radius) {
        const int width = static_cast<int>(row.size());
        std::vector<float> out(row.size());
        for (int x = 0; x < width; ++x) {
            const int r = std::min(radius, std::min(x, width - 1 - x));
            float sum = row[x - r];
            for (int k = -r + 1; k <= r; ++k) sum += row[x + k];
            out[x] = r == radius ? sum * (1.0f / static_cast<float>(2 * r + 1))
                                 : sum / static_cast<float>(2 * r + 1);
        }
        return out;
    };
    std::vector<std::vector<int16_t>> rows;
    rows.push_back(std::vector<int16_t>(41, 4094));
    rows.push_back(std::vector<int16_t>(41, -4094));
    rows.emplace_back();
    for (int x = 0; x < 41; ++x) rows.back().push_back(static_cast<int16_t>(x % 2 ? 4093 : -4094));
    rows.emplace_back();
    for (int x = 0; x < 41; ++x) rows.back().push_back(static_cast<int16_t>((x * 2731) % 8189 - 4094));
    for (const auto& full : rows) {
        for (size_t width : {size_t{1}, size_t{2}, size_t{7}, size_t{41}}) {
            const std::vector<int16_t> values(full.begin(), full.begin() + width);
            const std::vector<float> asFloats(values.begin(), values.end());
            for (int radius : {0, 1, 2, 3, 4, 6}) {
                const std::vector<float> expected = model(asFloats, radius);
                std::vector<float> fromIntegers(width, -1.0f), fromFloats(width, -1.0f);
                si4c::rows::filterRow(values.data(), fromIntegers.data(), static_cast<int>(width),
                                      radius);
                si4c::rows::filterRow(asFloats.data(), fromFloats.data(), static_cast<int>(width),
                                      radius);
                for (size_t x = 0; x < width; ++x) {
                    ASSERT_EQ(std::memcmp(&fromIntegers[x], &expected[x], sizeof(float)), 0)
                        << "integers, width " << width << " radius " << radius << " at " << x
                        << ": " << fromIntegers[x] << " instead of " << expected[x];
                    ASSERT_EQ(std::memcmp(&fromFloats[x], &expected[x], sizeof(float)), 0)
                        << "floats, width " << width << " radius " << radius << " at " << x;
                }
            }
        }
    }
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
