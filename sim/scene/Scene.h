// Deterministic scene model: simple shapes seen through a pinhole camera, with ground truth.
#pragma once

#include <cstdint>
#include <vector>

namespace Quarvel {
namespace sim {

// Pinhole camera looking along +z (x right, y down), square pixels, centred optical axis.
struct CameraGeometry {
    int width = 240;
    int height = 180;
    double horizontalFovDegrees = 64.0;
    // Rays traced per pixel along each axis. Above 1, a pixel that straddles a depth edge
    // sees two surfaces and returns both (a mixed pixel), as a real lens footprint does.
    int subpixelSamples = 1;
};

// The exact pinhole of a geometry in pixel coordinates (pixel centres at whole numbers):
// x = (column - centreX) / focal, y = (row - centreY) / focal.
struct Pinhole {
    double focal = 0;
    double centreX = 0;
    double centreY = 0;
};
Pinhole pinholeOf(const CameraGeometry& geometry);

// What one view of a scene holds, per pixel, row-major (index = y * width + x).
struct GroundTruth {
    int width = 0;
    int height = 0;
    // Distance from the optical centre to the surface along the pixel's ray: what a
    // time-of-flight camera measures (not the z coordinate). 0 where the ray hits nothing.
    std::vector<float> distanceMm;
    // Diffuse reflectivity at the modulation wavelength, 0..1 (0 where nothing is hit).
    std::vector<float> reflectivity;
    // Cosine of the angle between the ray and the surface normal, 0..1.
    std::vector<float> incidenceCosine;
    // Ambient light reflected towards the pixel, relative to a white surface in full light.
    std::vector<float> ambient;
    // Mixed pixels (only when traced with several samples per pixel, else empty): the
    // share of the pixel's samples that hit the surface of `distanceMm`, and the second
    // surface the others hit (mean distance, and its relativeSignal for a whole pixel).
    std::vector<float> primaryShare;
    std::vector<float> secondDistanceMm;
    std::vector<float> secondSignal;
    // Distance at which a white surface facing the camera returns the nominal signal.
    float referenceDistanceMm = 1000.0f;

    int pixels() const { return width * height; }
    // Returned active light relative to a white surface facing the camera at the reference
    // distance: reflectivity x incidence / distance^2 (Lambertian, inverse square law).
    float relativeSignal(int pixel) const;

    // The light a pixel returns, as up to two surfaces: their distances and their signals
    // relative to relativeSignal's reference, weighted by the share of the pixel each
    // covers. Returns how many (0 where nothing is hit, 2 only for mixed pixels).
    struct Return {
        double distanceMm;
        double signal;
    };
    int returns(int pixel, Return out[2]) const;
    bool mixed(int pixel) const { return !primaryShare.empty() && primaryShare[pixel] < 1.0f; }
};

enum class SceneKind {
    Standard,  // back wall at 3 m, tilted floor, box, sphere; everything within 3.9 m
    Near,      // the standard scene scaled by 0.3: everything within 1.2 m
    Wall,      // one flat wall facing the camera at a given distance
};

// An immutable arrangement of shapes. The seed varies the surface texture (reflectivity),
// never the geometry, so depth ground truth is the same for every seed.
class Scene {
public:
    static Scene standard(uint64_t seed);
    static Scene near(uint64_t seed);
    static Scene wall(double distanceMm, uint64_t seed);
    static Scene of(SceneKind kind, uint64_t seed, double wallDistanceMm = 1000.0);

    // Traces one ray per pixel centre. Deterministic: same scene and geometry, same bytes.
    GroundTruth render(const CameraGeometry& geometry) const;

    SceneKind kind() const { return sceneKind; }
    uint64_t seed() const { return textureSeed; }
    double scale() const { return geometryScale; }
    double wallDistanceMm() const { return wallDistance; }

private:
    Scene(SceneKind kind, uint64_t seed, double scale, double wallDistance);

    SceneKind sceneKind;
    uint64_t textureSeed;
    double geometryScale;
    double wallDistance;
};

}  // namespace sim
}  // namespace Quarvel
