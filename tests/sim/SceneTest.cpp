// Scene ground truth: pinhole geometry against closed-form distances of each shape.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/scene/Scene.h"

using namespace Quarvel::sim;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Ray {
    double x, y, z;  // unit direction through a pixel centre
};

Ray rayThrough(const CameraGeometry& geometry, int column, int row) {
    const double focal =
        0.5 * geometry.width / std::tan(0.5 * geometry.horizontalFovDegrees * kPi / 180.0);
    const double u = (column + 0.5 - 0.5 * geometry.width) / focal;
    const double v = (row + 0.5 - 0.5 * geometry.height) / focal;
    const double length = std::sqrt(1.0 + u * u + v * v);
    return {u / length, v / length, 1.0 / length};
}

int indexOf(const CameraGeometry& geometry, int column, int row) {
    return row * geometry.width + column;
}

}  // namespace

TEST(SceneGroundTruth, FlatWallDistanceFollowsEachPixelRay) {
    const CameraGeometry geometry{240, 180, 64.0};
    const GroundTruth truth = Scene::wall(1500.0, 7).render(geometry);
    ASSERT_EQ(truth.pixels(), 240 * 180);
    for (int row : {0, 45, 90, 179}) {
        for (int column : {0, 60, 119, 120, 239}) {
            const Ray ray = rayThrough(geometry, column, row);
            const int i = indexOf(geometry, column, row);
            EXPECT_NEAR(truth.distanceMm[i], 1500.0 / ray.z, 0.01) << column << "," << row;
            EXPECT_NEAR(truth.incidenceCosine[i], ray.z, 1e-6);
            const double ratio = 1000.0 / truth.distanceMm[i];
            EXPECT_NEAR(truth.relativeSignal(i),
                        truth.reflectivity[i] * truth.incidenceCosine[i] * ratio * ratio, 1e-6);
        }
    }
}

TEST(SceneGroundTruth, StandardSceneShapesSitWhereTheyAreDescribed) {
    const CameraGeometry geometry{240, 180, 64.0};
    const GroundTruth truth = Scene::standard(1).render(geometry);
    const double focal = 120.0 / std::tan(32.0 * kPi / 180.0);

    // The ray towards the sphere's centre (450, 270, 1250) meets it at |c| - r.
    const int sphereColumn = static_cast<int>(std::floor(120.0 + focal * 450.0 / 1250.0));
    const int sphereRow = static_cast<int>(std::floor(90.0 + focal * 270.0 / 1250.0));
    const double centreDistance = std::sqrt(450.0 * 450 + 270.0 * 270 + 1250.0 * 1250);
    EXPECT_NEAR(truth.distanceMm[indexOf(geometry, sphereColumn, sphereRow)],
                centreDistance - 280.0, 1.0);

    // Straight up in the middle of the top row nothing stands before the back wall (z 3000).
    const Ray top = rayThrough(geometry, 120, 0);
    EXPECT_NEAR(truth.distanceMm[indexOf(geometry, 120, 0)], 3000.0 / top.z, 0.02);

    // The bottom row in the middle lies on the floor plane y + 0.08 z = 650.
    const Ray bottom = rayThrough(geometry, 120, 179);
    const double d = truth.distanceMm[indexOf(geometry, 120, 179)];
    EXPECT_NEAR(d * bottom.y + 0.08 * d * bottom.z, 650.0, 0.05);

    // Nothing is farther than the far corners of the back wall.
    for (float distance : truth.distanceMm) {
        EXPECT_GT(distance, 1000.0f);
        EXPECT_LT(distance, 3850.0f);
    }
}

TEST(SceneGroundTruth, BoxFaceIsAFlatPlaneTurnedAboutTheVertical) {
    // Points of one box face, back in box coordinates, share one coordinate of +-225.
    const CameraGeometry geometry{240, 180, 64.0};
    const GroundTruth truth = Scene::standard(1).render(geometry);
    const double focal = 120.0 / std::tan(32.0 * kPi / 180.0);
    const int column = static_cast<int>(std::floor(120.0 + focal * -520.0 / 1700.0));
    const int row = static_cast<int>(std::floor(90.0 + focal * 289.0 / 1700.0));
    const double yaw = 25.0 * kPi / 180.0;
    int onFace = 0;
    for (int dc = -3; dc <= 3; ++dc) {
        const Ray ray = rayThrough(geometry, column + dc, row);
        const double d = truth.distanceMm[indexOf(geometry, column + dc, row)];
        const double px = d * ray.x + 520.0, pz = d * ray.z - 1700.0;
        const double bx = std::cos(yaw) * px - std::sin(yaw) * pz;
        const double bz = std::sin(yaw) * px + std::cos(yaw) * pz;
        if (std::fabs(std::fabs(bx) - 225.0) < 0.05 || std::fabs(std::fabs(bz) - 225.0) < 0.05) {
            ++onFace;
        }
    }
    EXPECT_EQ(onFace, 7);
}

TEST(SceneGroundTruth, SeedChangesTextureButNeverGeometry) {
    const CameraGeometry geometry{240, 180, 64.0};
    const GroundTruth first = Scene::standard(1).render(geometry);
    const GroundTruth again = Scene::standard(1).render(geometry);
    const GroundTruth other = Scene::standard(2).render(geometry);
    EXPECT_EQ(first.distanceMm, other.distanceMm);
    EXPECT_EQ(first.reflectivity, again.reflectivity);
    int differing = 0;
    for (int i = 0; i < first.pixels(); ++i) {
        if (first.reflectivity[i] != other.reflectivity[i]) ++differing;
        EXPECT_GE(first.reflectivity[i], 0.0f);
        EXPECT_LE(first.reflectivity[i], 1.0f);
    }
    EXPECT_GT(differing, first.pixels() / 2);
}

TEST(SceneGroundTruth, NearSceneIsTheStandardSceneScaledDown) {
    const CameraGeometry geometry{320, 240, 64.0};
    const GroundTruth standard = Scene::standard(3).render(geometry);
    const GroundTruth near = Scene::near(3).render(geometry);
    float farthest = 0.0f;
    for (int i = 0; i < standard.pixels(); ++i) {
        EXPECT_NEAR(near.distanceMm[i], 0.3 * standard.distanceMm[i], 0.01);
        farthest = std::max(farthest, near.distanceMm[i]);
    }
    EXPECT_LT(farthest, 1250.0f);  // inside the single-frequency VGA range
    EXPECT_FLOAT_EQ(near.referenceDistanceMm, 300.0f);
}
