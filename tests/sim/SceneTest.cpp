// Scene ground truth: pinhole geometry against closed-form distances of each shape.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/scene/Scene.h"

using namespace Quarvel::sim;

namespace {

constexpr double kPi = 3.14159265358979323846;
const CameraGeometry kHqvga{240, 180, 64.0};
const double kFocal = 120.0 / std::tan(32.0 * kPi / 180.0);  // in pixels, for kHqvga

struct Ray {
    double x, y, z;  // unit direction through a pixel centre
};

Ray rayThrough(int column, int row) {
    const double u = (column + 0.5 - 120.0) / kFocal, v = (row + 0.5 - 90.0) / kFocal;
    const double length = std::sqrt(1.0 + u * u + v * v);
    return {u / length, v / length, 1.0 / length};
}

// The pixel whose ray passes nearest to camera point (x, y, z).
int pixelTowards(double x, double y, double z) {
    return static_cast<int>(std::floor(90.0 + kFocal * y / z)) * 240 +
           static_cast<int>(std::floor(120.0 + kFocal * x / z));
}

}  // namespace

TEST(SceneGroundTruth, FlatWallDistanceAndSignalFollowEachPixelRay) {
    const GroundTruth truth = Scene::wall(1500.0, 7).render(kHqvga);
    ASSERT_EQ(truth.pixels(), 240 * 180);
    for (int row : {0, 45, 90, 179}) {
        for (int column : {0, 60, 119, 120, 239}) {
            const Ray ray = rayThrough(column, row);
            const int i = row * 240 + column;
            EXPECT_NEAR(truth.distanceMm[i], 1500.0 / ray.z, 0.01) << column << "," << row;
            EXPECT_NEAR(truth.incidenceCosine[i], ray.z, 1e-6);
            const double ratio = 1000.0 / truth.distanceMm[i];
            EXPECT_NEAR(truth.relativeSignal(i),
                        truth.reflectivity[i] * truth.incidenceCosine[i] * ratio * ratio, 1e-6);
        }
    }
}

TEST(SceneGroundTruth, StandardSceneShapesSitWhereTheyAreDescribed) {
    const GroundTruth truth = Scene::standard(1).render(kHqvga);
    // The ray towards the sphere's centre (450, 270, 1250) meets it at |c| - r.
    EXPECT_NEAR(truth.distanceMm[pixelTowards(450, 270, 1250)],
                std::sqrt(450.0 * 450 + 270.0 * 270 + 1250.0 * 1250) - 280.0, 1.0);
    // Straight up in the middle of the top row nothing stands before the back wall (z 3000).
    EXPECT_NEAR(truth.distanceMm[120], 3000.0 / rayThrough(120, 0).z, 0.02);
    // The bottom row in the middle lies on the floor plane y + 0.08 z = 650.
    const Ray bottom = rayThrough(120, 179);
    const double d = truth.distanceMm[179 * 240 + 120];
    EXPECT_NEAR(d * bottom.y + 0.08 * d * bottom.z, 650.0, 0.05);
    // Points of the box's front face, back in box coordinates (turned 25 degrees about the
    // vertical), share one coordinate of +-225.
    const double yaw = 25.0 * kPi / 180.0;
    const int boxCentre = pixelTowards(-520, 289, 1700);
    for (int dc = -3; dc <= 3; ++dc) {
        const Ray ray = rayThrough(boxCentre % 240 + dc, boxCentre / 240);
        const double distance = truth.distanceMm[boxCentre + dc];
        const double px = distance * ray.x + 520.0, pz = distance * ray.z - 1700.0;
        const double bx = std::cos(yaw) * px - std::sin(yaw) * pz;
        const double bz = std::sin(yaw) * px + std::cos(yaw) * pz;
        EXPECT_TRUE(std::fabs(std::fabs(bx) - 225.0) < 0.05 ||
                    std::fabs(std::fabs(bz) - 225.0) < 0.05)
            << "column offset " << dc << ": " << bx << ", " << bz;
    }
    // Nothing is nearer than the sphere's front or farther than the wall's corners.
    for (float distance : truth.distanceMm) {
        ASSERT_GT(distance, 1000.0f);
        ASSERT_LT(distance, 3850.0f);
    }
}

TEST(SceneGroundTruth, SeedChangesTextureButNeverGeometry) {
    const GroundTruth first = Scene::standard(1).render(kHqvga);
    const GroundTruth other = Scene::standard(2).render(kHqvga);
    EXPECT_EQ(first.distanceMm, other.distanceMm);
    EXPECT_EQ(first.reflectivity, Scene::standard(1).render(kHqvga).reflectivity);
    int differing = 0;
    for (int i = 0; i < first.pixels(); ++i) {
        if (first.reflectivity[i] != other.reflectivity[i]) ++differing;
        ASSERT_GE(first.reflectivity[i], 0.0f);
        ASSERT_LE(first.reflectivity[i], 1.0f);
    }
    EXPECT_GT(differing, first.pixels() / 2);
}

TEST(SceneGroundTruth, NearSceneIsTheStandardSceneScaledDown) {
    const CameraGeometry geometry{320, 240, 64.0};
    const GroundTruth standard = Scene::standard(3).render(geometry);
    const GroundTruth near = Scene::near(3).render(geometry);
    for (int i = 0; i < standard.pixels(); ++i) {
        ASSERT_NEAR(near.distanceMm[i], 0.3 * standard.distanceMm[i], 0.01);
        ASSERT_LT(near.distanceMm[i], 1250.0f);  // inside the single-frequency VGA range
    }
    EXPECT_FLOAT_EQ(near.referenceDistanceMm, 300.0f);
}
