// Point clouds of simulated scenes land where the scene's shapes are.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/PointCloud.h"
#include "sim/scene/Scene.h"
#include "tests/geometry/GeometryTruth.h"
#include "tests/geometry/ShapeFits.h"

namespace Quarvel {
namespace {

using geometrytest::Point;

constexpr double kPi = 3.14159265358979323846;

std::vector<float> organisedCloud(const PointCloud& cloud, const std::vector<float>& depth) {
    std::vector<float> points(3 * cloud.pixels());
    EXPECT_GE(cloud.compute(depth.data(), depth.size(), 1.0f, points.data(), points.size()), 0);
    return points;
}

TEST(PointCloudTest, WallAlongTheRaysComesOutAsThePlaneFacingTheCamera) {
    const sim::CameraGeometry geometry{240, 180, 64.0};
    const sim::GroundTruth truth = sim::Scene::wall(1500.0, 1).render(geometry);
    const PointCloud cloud(geometrytest::simulatedLens(geometry));
    const std::vector<float> points = organisedCloud(cloud, truth.distanceMm);
    std::vector<Point> wall;
    for (size_t i = 0; i < cloud.pixels(); ++i)
        wall.push_back({points[3 * i], points[3 * i + 1], points[3 * i + 2]});
    const geometrytest::PlaneFit fit = geometrytest::fitPlane(wall);
    EXPECT_LT(fit.rmsResidual, 0.01);
    EXPECT_LT(fit.tiltDegrees, 0.001);
    EXPECT_NEAR(fit.distance, 1500.0, 0.01);
    // Distance along the ray, not z: the corner pixels lie far beyond 1500 mm along the ray
    // yet at z = 1500.
    EXPECT_GT(truth.distanceMm[0], 1700.0f);
    EXPECT_NEAR(points[2], 1500.0, 0.01);
}

TEST(PointCloudTest, SphereAndBoxOfTheStandardSceneAreAtTheirTruePlaces) {
    const sim::CameraGeometry geometry{240, 180, 64.0};
    const sim::GroundTruth truth = sim::Scene::standard(1).render(geometry);
    const PointCloud cloud(geometrytest::simulatedLens(geometry));
    const std::vector<float> points = organisedCloud(cloud, truth.distanceMm);

    const Point sphereCentre{450, 270, 1250};
    const Point boxCentre{-520, 289, 1700};
    const double yaw = 25.0 * kPi / 180.0;
    std::vector<Point> sphere;
    size_t boxPoints = 0;
    double worstBoxError = 0;
    for (size_t i = 0; i < cloud.pixels(); ++i) {
        const Point p{points[3 * i], points[3 * i + 1], points[3 * i + 2]};
        const double dx = p.x - sphereCentre.x, dy = p.y - sphereCentre.y,
                     dz = p.z - sphereCentre.z;
        // The sphere rests on the floor (at y = 550 below it): leave the floor out.
        if (std::sqrt(dx * dx + dy * dy + dz * dz) < 300.0 && p.y < 500.0) sphere.push_back(p);
        // In the box's own frame every point of it lies on a face: largest |coordinate| 225.
        const double bx = p.x - boxCentre.x, by = p.y - boxCentre.y, bz = p.z - boxCentre.z;
        const double lx = std::cos(yaw) * bx - std::sin(yaw) * bz;
        const double lz = std::sin(yaw) * bx + std::cos(yaw) * bz;
        const double chebyshev = std::max({std::fabs(lx), std::fabs(by), std::fabs(lz)});
        // The box stands on the floor (205 to 244 below its centre there): leave it out.
        if (chebyshev < 240.0 && by < 200.0) {
            ++boxPoints;
            worstBoxError = std::max(worstBoxError, std::fabs(chebyshev - 225.0));
        }
    }
    ASSERT_GT(sphere.size(), 3000u);
    const geometrytest::SphereFit fit = geometrytest::fitSphere(sphere);
    EXPECT_NEAR(fit.centre.x, 450.0, 0.05);
    EXPECT_NEAR(fit.centre.y, 270.0, 0.05);
    EXPECT_NEAR(fit.centre.z, 1250.0, 0.05);
    EXPECT_NEAR(fit.radius, 280.0, 0.05);
    EXPECT_GT(boxPoints, 3000u);
    EXPECT_LT(worstBoxError, 0.05);
}

TEST(PointCloudTest, DistortedLensUndistortsEachRayBeforeScaling) {
    Intrinsics lens = Intrinsics::nominal(240, 180);
    lens.distortion = {-0.25, 0.07, 0.001, -0.0005, -0.01};
    const PointCloud cloud(lens);
    // A point on the z = 1000 plane, imaged through the distortion, comes back where it was.
    const double x = 0.4, y = -0.3;
    double u = 0, v = 0;
    lens.project(x, y, u, v);
    const int column = static_cast<int>(std::lround(u)), row = static_cast<int>(std::lround(v));
    double px = 0, py = 0;
    lens.unproject(column, row, px, py);
    const double range = 1000.0 * std::sqrt(px * px + py * py + 1.0);
    std::vector<float> depth(cloud.pixels(), 0.0f);
    depth[static_cast<size_t>(row) * 240 + column] = static_cast<float>(range);
    const std::vector<float> points = organisedCloud(cloud, depth);
    const float* p = &points[3 * (static_cast<size_t>(row) * 240 + column)];
    EXPECT_NEAR(p[2], 1000.0, 0.01);
    EXPECT_NEAR(p[0], 1000.0 * px, 0.01);
    EXPECT_NEAR(p[1], 1000.0 * py, 0.01);
    // Distortion moved the pixel: the pinhole alone would put the point elsewhere.
    EXPECT_GT(std::fabs((column - lens.cx) / lens.fx - px), 0.01);
}

TEST(PointCloudTest, PixelsWithoutDepthBecomeNaNOrAreLeftOutOfTheDenseCloud) {
    const PointCloud cloud(Intrinsics::nominal(4, 3));
    const float nan = std::nanf("");
    const std::vector<float> depth = {1000, 0, -5, nan, 2000, INFINITY, 1, 2, 3, 4, 5, 6};
    const std::vector<float> amplitude = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
    std::vector<float> points(36);
    EXPECT_EQ(cloud.compute(depth.data(), depth.size(), 0.001f, points.data(), points.size()), 8);
    EXPECT_TRUE(std::isnan(points[3]) && std::isnan(points[9]) && std::isnan(points[15]));
    EXPECT_FALSE(std::isnan(points[0]));
    std::vector<float> dense(36), denseAmplitude(12);
    ASSERT_EQ(cloud.computeDense(depth.data(), depth.size(), amplitude.data(), amplitude.size(),
                                 0.001f, dense.data(), dense.size(), denseAmplitude.data(),
                                 denseAmplitude.size()),
              8);
    EXPECT_EQ(denseAmplitude[0], 10);
    EXPECT_EQ(denseAmplitude[1], 14);
    EXPECT_EQ(denseAmplitude[7], 21);
    // Metres: the length of the first point is its depth / 1000.
    EXPECT_NEAR(std::sqrt(dense[0] * dense[0] + dense[1] * dense[1] + dense[2] * dense[2]), 1.0,
                1e-6);
    // Buffers too small are refused.
    EXPECT_EQ(cloud.compute(depth.data(), 11, 1.0f, points.data(), points.size()), -1);
    EXPECT_EQ(cloud.compute(depth.data(), 12, 1.0f, points.data(), 35), -1);
}

}  // namespace
}  // namespace Quarvel
