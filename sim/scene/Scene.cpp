// Ray casting of the simulated scenes: plane, box and sphere intersections, seeded texture.
#include "sim/scene/Scene.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/scene/SplitMix.h"

namespace Quarvel {
namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNoHit = std::numeric_limits<double>::infinity();

struct Vec3 {
    double x, y, z;
};
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 normalised(Vec3 a) { return (1.0 / std::sqrt(dot(a, a))) * a; }

struct Hit {
    double distance = kNoHit;
    Vec3 normal{0, 0, -1};  // unit, facing the camera
    double baseReflectivity = 0;
};

// Plane n.p = offset (n unit); only hits in front of the camera count.
void hitPlane(Vec3 direction, Vec3 normal, double offset, double reflectivity, Hit& best) {
    const double facing = dot(normal, direction);
    if (std::fabs(facing) < 1e-12) return;
    const double t = offset / facing;
    if (t <= 0 || t >= best.distance) return;
    best.distance = t;
    best.normal = facing > 0 ? -1.0 * normal : normal;
    best.baseReflectivity = reflectivity;
}

void hitSphere(Vec3 direction, Vec3 centre, double radius, double reflectivity, Hit& best) {
    // |t d - c|^2 = r^2 with |d| = 1.
    const double b = dot(direction, centre);
    const double discriminant = b * b - dot(centre, centre) + radius * radius;
    if (discriminant < 0) return;
    const double t = b - std::sqrt(discriminant);
    if (t <= 0 || t >= best.distance) return;
    best.distance = t;
    best.normal = normalised(t * direction - centre);
    best.baseReflectivity = reflectivity;
}

// Box of half size `half` around `centre`, turned by `yaw` radians about the vertical axis.
void hitBox(Vec3 direction, Vec3 centre, double half, double yaw, double reflectivity, Hit& best) {
    const double c = std::cos(yaw), s = std::sin(yaw);
    auto toBox = [c, s](Vec3 v) { return Vec3{c * v.x - s * v.z, v.y, s * v.x + c * v.z}; };
    auto fromBox = [c, s](Vec3 v) { return Vec3{c * v.x + s * v.z, v.y, -s * v.x + c * v.z}; };
    const Vec3 origin = toBox(-1.0 * centre);
    const Vec3 d = toBox(direction);
    const double o[3] = {origin.x, origin.y, origin.z};
    const double dd[3] = {d.x, d.y, d.z};
    double enter = -kNoHit, leave = kNoHit;
    int enterAxis = 0;
    double enterSign = 1;
    for (int axis = 0; axis < 3; ++axis) {
        if (std::fabs(dd[axis]) < 1e-12) {
            if (std::fabs(o[axis]) > half) return;
            continue;
        }
        double t0 = (-half - o[axis]) / dd[axis];
        double t1 = (half - o[axis]) / dd[axis];
        double sign = -1;  // entering through the -half face
        if (t0 > t1) {
            std::swap(t0, t1);
            sign = 1;
        }
        if (t0 > enter) {
            enter = t0;
            enterAxis = axis;
            enterSign = sign;
        }
        leave = std::min(leave, t1);
    }
    if (enter > leave || enter <= 0 || enter >= best.distance) return;
    Vec3 normal{0, 0, 0};
    if (enterAxis == 0) normal.x = enterSign;
    if (enterAxis == 1) normal.y = enterSign;
    if (enterAxis == 2) normal.z = enterSign;
    best.distance = enter;
    best.normal = fromBox(normal);
    best.baseReflectivity = reflectivity;
}

// Smooth value noise in [0, 1] over a lattice of `cell` millimetres, fixed by the seed.
double valueNoise(Vec3 p, double cell, uint64_t seed) {
    const double gx = p.x / cell, gy = p.y / cell, gz = p.z / cell;
    const double fx = std::floor(gx), fy = std::floor(gy), fz = std::floor(gz);
    const double tx = gx - fx, ty = gy - fy, tz = gz - fz;
    auto corner = [&](int dx, int dy, int dz) {
        const uint64_t key =
            seed ^ (static_cast<uint64_t>(static_cast<int64_t>(fx) + dx) * 0x9E3779B97F4A7C15ull) ^
            (static_cast<uint64_t>(static_cast<int64_t>(fy) + dy) * 0xC2B2AE3D27D4EB4Full) ^
            (static_cast<uint64_t>(static_cast<int64_t>(fz) + dz) * 0x165667B19E3779F9ull);
        return static_cast<double>(splitMix64(key) >> 11) * 0x1.0p-53;
    };
    auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
    const double x00 = lerp(corner(0, 0, 0), corner(1, 0, 0), tx);
    const double x10 = lerp(corner(0, 1, 0), corner(1, 1, 0), tx);
    const double x01 = lerp(corner(0, 0, 1), corner(1, 0, 1), tx);
    const double x11 = lerp(corner(0, 1, 1), corner(1, 1, 1), tx);
    return lerp(lerp(x00, x10, ty), lerp(x01, x11, ty), tz);
}

}  // namespace

float GroundTruth::relativeSignal(int pixel) const {
    const float distance = distanceMm[pixel];
    if (distance <= 0.0f) return 0.0f;
    const float ratio = referenceDistanceMm / distance;
    return reflectivity[pixel] * incidenceCosine[pixel] * ratio * ratio;
}

Scene::Scene(SceneKind kind, uint64_t seed, double scale, double wall)
    : sceneKind(kind), textureSeed(seed), geometryScale(scale), wallDistance(wall) {}

Scene Scene::standard(uint64_t seed) { return Scene(SceneKind::Standard, seed, 1.0, 3000.0); }
Scene Scene::near(uint64_t seed) { return Scene(SceneKind::Near, seed, 0.3, 900.0); }
Scene Scene::wall(double distanceMm, uint64_t seed) {
    return Scene(SceneKind::Wall, seed, 1.0, distanceMm);
}
Scene Scene::of(SceneKind kind, uint64_t seed, double wallDistanceMm) {
    switch (kind) {
        case SceneKind::Near:
            return near(seed);
        case SceneKind::Wall:
            return wall(wallDistanceMm, seed);
        case SceneKind::Standard:
        default:
            return standard(seed);
    }
}

Pinhole pinholeOf(const CameraGeometry& geometry) {
    Pinhole pinhole;
    pinhole.focal =
        0.5 * geometry.width / std::tan(0.5 * geometry.horizontalFovDegrees * kPi / 180.0);
    pinhole.centreX = 0.5 * geometry.width - 0.5;
    pinhole.centreY = 0.5 * geometry.height - 0.5;
    return pinhole;
}

int GroundTruth::returns(int pixel, Return out[2]) const {
    if (distanceMm[pixel] <= 0.0f) return 0;
    const double share = primaryShare.empty() ? 1.0 : primaryShare[pixel];
    out[0] = {distanceMm[pixel], share * relativeSignal(pixel)};
    if (share >= 1.0 || secondDistanceMm[pixel] <= 0.0f) return 1;
    out[1] = {secondDistanceMm[pixel], (1.0 - share) * secondSignal[pixel]};
    return 2;
}

namespace {

// Samples of one pixel farther apart than this share of its centre's distance belong to
// different surfaces (a tilted floor stays well within it from pixel to pixel).
constexpr double kSameSurfaceShare = 0.05;

bool sameSurface(double distance, double centre) {
    return std::fabs(distance - centre) <= kSameSurfaceShare * centre;
}

// Pixels next to a depth edge are traced again with n x n rays spread over the pixel; the
// rays that leave the centre ray's surface form the pixel's second return.
template <typename Trace, typename Reflectivity, typename Incidence>
void mixEdgePixels(const CameraGeometry& geometry, GroundTruth& truth, Trace trace,
                   Reflectivity reflectivityAt, Incidence incidenceAt) {
    const int width = geometry.width, height = geometry.height, n = geometry.subpixelSamples;
    const size_t count = static_cast<size_t>(width) * height;
    truth.primaryShare.assign(count, 1.0f);
    truth.secondDistanceMm.assign(count, 0.0f);
    truth.secondSignal.assign(count, 0.0f);
    const std::vector<float> centres = truth.distanceMm;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const size_t i = static_cast<size_t>(row) * width + column;
            const double centre = centres[i];
            if (centre <= 0) continue;
            bool nearEdge = false;
            for (int dy = -1; dy <= 1 && !nearEdge; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int y = row + dy, x = column + dx;
                    if (y < 0 || y >= height || x < 0 || x >= width) continue;
                    if (!sameSurface(centres[static_cast<size_t>(y) * width + x], centre)) {
                        nearEdge = true;
                        break;
                    }
                }
            }
            if (!nearEdge) continue;
            int primary = 0, second = 0;
            double secondDistance = 0, secondSignal = 0;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const auto [direction, hit] =
                        trace(column + (sx + 0.5) / n, row + (sy + 0.5) / n);
                    if (hit.distance == kNoHit) continue;
                    if (sameSurface(hit.distance, centre)) {
                        ++primary;
                        continue;
                    }
                    const double ratio = truth.referenceDistanceMm / hit.distance;
                    ++second;
                    secondDistance += hit.distance;
                    secondSignal += reflectivityAt(direction, hit) * incidenceAt(direction, hit) *
                                    ratio * ratio;
                }
            }
            if (second == 0) continue;
            const int samples = n * n;
            truth.primaryShare[i] = static_cast<float>(primary) / samples;
            truth.secondDistanceMm[i] = static_cast<float>(secondDistance / second);
            truth.secondSignal[i] = static_cast<float>(secondSignal / second);
        }
    }
}

}  // namespace

GroundTruth Scene::render(const CameraGeometry& geometry) const {
    GroundTruth truth;
    truth.width = geometry.width;
    truth.height = geometry.height;
    const size_t count = static_cast<size_t>(geometry.width) * geometry.height;
    truth.distanceMm.assign(count, 0.0f);
    truth.reflectivity.assign(count, 0.0f);
    truth.incidenceCosine.assign(count, 0.0f);
    truth.ambient.assign(count, 0.0f);
    truth.referenceDistanceMm = static_cast<float>(1000.0 * geometryScale);

    const double s = geometryScale;
    const double focal = pinholeOf(geometry).focal;
    // Floor y + 0.08 z = 650 mm: 650 mm below the lens, rising towards the back wall.
    const Vec3 floorNormal = normalised({0.0, 1.0, 0.08});
    const double floorOffset = 650.0 * s / std::sqrt(1.0 + 0.08 * 0.08);

    auto trace = [&](double column, double row) {
        const Vec3 direction = normalised(
            {(column - 0.5 * geometry.width) / focal, (row - 0.5 * geometry.height) / focal, 1.0});
        Hit hit;
        if (sceneKind == SceneKind::Wall) {
            hitPlane(direction, {0, 0, 1}, wallDistance, 0.7, hit);
        } else {
            hitPlane(direction, {0, 0, 1}, 3000.0 * s, 0.6, hit);
            hitPlane(direction, floorNormal, floorOffset, 0.35, hit);
            hitBox(direction, s * Vec3{-520.0, 289.0, 1700.0}, 225.0 * s, 25.0 * kPi / 180.0, 0.8,
                   hit);
            hitSphere(direction, s * Vec3{450.0, 270.0, 1250.0}, 280.0 * s, 0.9, hit);
        }
        return std::make_pair(direction, hit);
    };
    auto reflectivityAt = [&](Vec3 direction, const Hit& hit) {
        const Vec3 point = hit.distance * direction;
        const double texture = valueNoise((1.0 / s) * point, 120.0, textureSeed);
        return std::min(1.0, hit.baseReflectivity * (0.8 + 0.4 * texture));
    };
    auto incidenceAt = [](Vec3 direction, const Hit& hit) {
        return std::clamp(-dot(hit.normal, direction), 0.0, 1.0);
    };

    for (int row = 0; row < geometry.height; ++row) {
        for (int column = 0; column < geometry.width; ++column) {
            const auto [direction, hit] = trace(column + 0.5, row + 0.5);
            if (hit.distance == kNoHit) continue;

            const double reflectivity = reflectivityAt(direction, hit);
            // Daylight comes from above: upward-facing surfaces get the most of it.
            const double skyLight = 0.5 + 0.5 * std::max(0.0, -hit.normal.y);
            const size_t i = static_cast<size_t>(row) * geometry.width + column;
            truth.distanceMm[i] = static_cast<float>(hit.distance);
            truth.reflectivity[i] = static_cast<float>(reflectivity);
            truth.incidenceCosine[i] = static_cast<float>(incidenceAt(direction, hit));
            truth.ambient[i] = static_cast<float>(reflectivity * skyLight);
        }
    }
    if (geometry.subpixelSamples > 1)
        mixEdgePixels(geometry, truth, trace, reflectivityAt, incidenceAt);
    return truth;
}

}  // namespace sim
}  // namespace Quarvel
