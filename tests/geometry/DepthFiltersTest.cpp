// Depth filters against ground truth: mixed pixels of the simulated scene, known images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "geometry/DepthFilters.h"
#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/Scene.h"
#include "tests/geometry/GeometryTruth.h"

namespace Quarvel {
namespace {

using namespace DepthFilters;

Image in(const std::vector<float>& v) { return {v.data(), v.size()}; }
Output out(std::vector<float>& v) { return {v.data(), v.size()}; }

// The standard scene with mixed pixels at its edges, measured through the 240x180 sensor.
struct MixedScene {
    sim::GroundTruth truth;
    std::vector<float> depth;

    MixedScene() {
        sim::CameraGeometry geometry{240, 180, 64.0};
        geometry.subpixelSamples = 4;
        truth = sim::Scene::standard(3).render(geometry);
        sim::HqvgaSensorParams params;
        params.noise.seed = 3;
        depth = geometrytest::measuredDepth(sim::HqvgaRawSynthesis(truth, params), 0);
    }
    // A mixed pixel measured away from both surfaces it sees: a flying pixel.
    bool flying(size_t i) const {
        if (!truth.mixed(static_cast<int>(i))) return false;
        const double first = std::fabs(depth[i] - truth.distanceMm[i]);
        const double second = std::fabs(depth[i] - truth.secondDistanceMm[i]);
        return std::min(first, second) > 0.05 * truth.distanceMm[i];
    }
};

TEST(DepthFiltersTest, FlyingPixelFilterRemovesMixedReturnsAndKeepsTrueSurfaces) {
    const MixedScene scene;
    std::vector<float> filtered(scene.depth.size());
    ASSERT_EQ(removeFlyingPixels(in(scene.depth), 0.05f, out(filtered), 240, 180), 0);
    size_t flying = 0, flyingRemoved = 0, pure = 0, pureKept = 0;
    for (size_t i = 0; i < filtered.size(); ++i) {
        if (scene.flying(i)) {
            ++flying;
            flyingRemoved += filtered[i] == 0.0f;
        } else if (!scene.truth.mixed(static_cast<int>(i))) {
            ++pure;
            pureKept += filtered[i] == scene.depth[i];
        }
    }
    // The edges of sphere and box against the wall and the floor give over a hundred.
    ASSERT_GT(flying, 100u);
    EXPECT_GE(flyingRemoved, flying * 95 / 100) << flyingRemoved << " of " << flying;
    EXPECT_GE(pureKept, pure * 98 / 100) << pureKept << " of " << pure;
}

TEST(DepthFiltersTest, MixedPixelsOnlyAppearWhenTheSceneIsTracedBelowThePixel) {
    sim::CameraGeometry geometry{240, 180, 64.0};
    const sim::GroundTruth plain = sim::Scene::standard(3).render(geometry);
    geometry.subpixelSamples = 4;
    const sim::GroundTruth mixed = sim::Scene::standard(3).render(geometry);
    size_t mixedPixels = 0;
    for (int i = 0; i < mixed.pixels(); ++i) {
        mixedPixels += mixed.mixed(i);
        // The centre ray's surface stays the primary return, so depth truth is unchanged.
        ASSERT_EQ(mixed.distanceMm[i], plain.distanceMm[i]);
        EXPECT_FALSE(plain.mixed(i));
    }
    EXPECT_GT(mixedPixels, 300u);
    EXPECT_LT(mixedPixels, 3000u);
}

// The median the slow way: the middle of the nine sorted values, edges replicated, values
// without depth (0, negative, NaN, infinite) as 0.
std::vector<float> bruteForceMedian(const std::vector<float>& depth, int width, int height) {
    std::vector<float> result(depth.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::vector<float> window;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int sy = std::clamp(y + dy, 0, height - 1);
                    const int sx = std::clamp(x + dx, 0, width - 1);
                    const float value = depth[sy * width + sx];
                    window.push_back(value > 0.0f && std::isfinite(value) ? value : 0.0f);
                }
            }
            std::sort(window.begin(), window.end());
            result[y * width + x] = window[4];
        }
    }
    return result;
}

uint32_t bitsOf(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(DepthFiltersTest, MedianIsTheMiddleOfEachReplicatedNeighbourhood) {
    // Single rows and columns, odd heights (rows are made in pairs), widths around the vector
    // widths and the filter's column chunks, and the widest image.
    const int sizes[][2] = {{1, 1},   {1, 9},   {9, 1},   {2, 2},   {7, 5},    {15, 3},
                            {16, 2},  {17, 4},  {33, 7},  {255, 3}, {256, 2},  {257, 5},
                            {258, 3}, {513, 3}, {640, 4}, {4096, 3}};
    // Duplicates, gaps and every kind of missing depth, including -0.
    const float values[] = {0.0f,   -0.0f,  -250.0f, std::nanf(""), INFINITY, -INFINITY,
                            1000.f, 1000.f, 1200.5f, 3999.0f,       1e-3f,    7000.0f};
    uint32_t state = 12345;
    for (const auto& size : sizes) {
        const int width = size[0], height = size[1];
        std::vector<float> depth(static_cast<size_t>(width) * height);
        for (float& value : depth) {
            state = state * 1664525u + 1013904223u;
            value = values[(state >> 16) % (sizeof values / sizeof values[0])];
        }
        const std::vector<float> expected = bruteForceMedian(depth, width, height);
        std::vector<float> filtered(depth.size(), -1.0f);
        ASSERT_EQ(median3x3(in(depth), out(filtered), width, height), 0);
        size_t wrong = 0;
        for (size_t i = 0; i < depth.size(); ++i) {
            if (bitsOf(filtered[i]) != bitsOf(expected[i]) && wrong++ < 3)
                ADD_FAILURE() << width << "x" << height << " at " << i % width << ","
                              << i / width << ": " << filtered[i] << " != " << expected[i];
        }
        EXPECT_EQ(wrong, 0u) << width << "x" << height;
    }
}

TEST(DepthFiltersTest, HolesAreFilledFromTheFarthestNeighbourOnlyWhenSurrounded) {
    const int width = 5, height = 4;
    std::vector<float> depth = {
        1000, 1000, 1000, 2000, 2000,  //
        1000, 0,    1000, 2000, 2000,  //
        1000, 1000, 1000, 0,    0,     //
        0,    0,    1000, 0,    0,
    };
    std::vector<float> filtered(depth.size());
    ASSERT_EQ(fillHoles(in(depth), 5, out(filtered), width, height), 0);
    EXPECT_EQ(filtered[6], 1000.0f);   // eight neighbours on one surface
    EXPECT_EQ(filtered[13], 2000.0f);  // five neighbours, the farthest 2000
    EXPECT_EQ(filtered[19], 0.0f);     // corner: two neighbours with depth of three
    EXPECT_EQ(filtered[15], 0.0f);     // bottom edge: three of five
    EXPECT_EQ(filtered[0], 1000.0f);   // pixels with depth stay as they are
    EXPECT_EQ(fillHoles(in(depth), 9, out(filtered), width, height), 1);
}

TEST(DepthFiltersTest, SmoothingAveragesASurfaceButNotAcrossAnEdge) {
    const int width = 12, height = 6;
    std::vector<float> depth(width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            depth[y * width + x] = (x < 6 ? 1000.0f : 2000.0f) + ((x + y) % 2 ? 10.0f : -10.0f);
    std::vector<float> filtered(depth.size());
    ASSERT_EQ(smoothPreservingEdges(in(depth), 1, 50.0f, out(filtered), width, height), 0);
    // Inside each surface the checkerboard noise averages out: 3x3 window, 5 of one sign.
    EXPECT_NEAR(filtered[2 * width + 2], 1000.0f + 10.0f / 9.0f * ((2 + 2) % 2 ? 1 : -1), 1e-3);
    // Next to the edge only the own surface counts: never pulled towards the other.
    for (int y = 0; y < height; ++y) {
        EXPECT_LT(std::fabs(filtered[y * width + 5] - 1000.0f), 11.0f);
        EXPECT_LT(std::fabs(filtered[y * width + 6] - 2000.0f), 11.0f);
    }
    std::vector<float> holes = depth;
    holes[20] = 0.0f;
    ASSERT_EQ(smoothPreservingEdges(in(holes), 2, 50.0f, out(filtered), width, height), 0);
    EXPECT_EQ(filtered[20], 0.0f);
}

TEST(DepthFiltersTest, TemporalFilterAveragesStillDepthAndRestartsOnAJump) {
    TemporalFilter filter(2, 1, 0.25f, 100.0f);
    std::vector<float> result(2);
    ASSERT_EQ(filter.apply(in({1000.0f, 1000.0f}), out(result)), 0);
    EXPECT_EQ(result, (std::vector<float>{1000.0f, 1000.0f}));
    ASSERT_EQ(filter.apply(in({1040.0f, 1500.0f}), out(result)), 0);
    EXPECT_FLOAT_EQ(result[0], 1010.0f);  // a quarter of the way to the new value
    EXPECT_FLOAT_EQ(result[1], 1500.0f);  // moved by more than 100 mm: starts again
    ASSERT_EQ(filter.apply(in({1010.0f, 0.0f}), out(result)), 0);
    EXPECT_FLOAT_EQ(result[0], 1010.0f);
    EXPECT_FLOAT_EQ(result[1], 0.0f);  // lost depth is not invented
    filter.reset();
    ASSERT_EQ(filter.apply(in({1090.0f, 800.0f}), out(result)), 0);
    EXPECT_FLOAT_EQ(result[0], 1090.0f);
    EXPECT_EQ(filter.apply(in({1.0f}), out(result)), 1);  // too small for 2x1
}

TEST(DepthFiltersTest, ThresholdKeepsConfidentDepthOnly) {
    const std::vector<float> depth = {1000, 2000, 3000, std::nanf("")};
    const std::vector<float> amplitude = {149, 150, 400, 400};
    std::vector<float> filtered(4);
    ASSERT_EQ(thresholdByConfidence(in(depth), in(amplitude), 150.0f, out(filtered), 2, 2), 0);
    EXPECT_EQ(filtered, (std::vector<float>{0, 2000, 3000, 0}));
}

TEST(DepthFiltersTest, FiltersRefuseBuffersThatDoNotHoldTheImage) {
    std::vector<float> depth(12, 1000.0f), filtered(12);
    EXPECT_EQ(median3x3(in(depth), {filtered.data(), 11}, 4, 3), 1);
    EXPECT_EQ(median3x3({depth.data(), 11}, out(filtered), 4, 3), 1);
    EXPECT_EQ(median3x3(in(depth), {depth.data(), 12}, 4, 3), 1);  // in place
    EXPECT_EQ(removeFlyingPixels(in(depth), 0.05f, out(filtered), kMaxWidth + 1, 0), 1);
    EXPECT_EQ(removeFlyingPixels(in(depth), 0.0f, out(filtered), 4, 3), 1);
    EXPECT_EQ(smoothPreservingEdges(in(depth), 4, 10.0f, out(filtered), 4, 3), 1);
    std::vector<float> untouched(12, -1.0f);
    EXPECT_EQ(median3x3(in(depth), {untouched.data(), 11}, 4, 3), 1);
    EXPECT_EQ(untouched, std::vector<float>(12, -1.0f));
}

}  // namespace
}  // namespace Quarvel
