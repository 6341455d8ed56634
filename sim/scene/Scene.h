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
};

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
    // Distance at which a white surface facing the camera returns the nominal signal.
    float referenceDistanceMm = 1000.0f;

    int pixels() const { return width * height; }
    // Returned active light relative to a white surface facing the camera at the reference
    // distance: reflectivity x incidence / distance^2 (Lambertian, inverse square law).
    float relativeSignal(int pixel) const;
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
