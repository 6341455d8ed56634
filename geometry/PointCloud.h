// Depth frames to 3D points: each pixel's distance laid along its undistorted ray.
#pragma once

#include <cstddef>
#include <vector>

#include "geometry/Intrinsics.h"

namespace Quarvel {

// A time-of-flight camera measures the distance from the lens along a pixel's ray, not z.
// The unit ray of every pixel is computed once (undistorted through the intrinsics), so a
// frame costs one multiplication per coordinate and allocates nothing.
// Coordinates: x right, y down, z along the optical axis (the camera frame of OpenCV/ROS).
// compute() is const and thread-safe.
class PointCloud {
public:
    explicit PointCloud(const Intrinsics& intrinsics);

    int width() const { return intrinsics.width; }
    int height() const { return intrinsics.height; }
    size_t pixels() const { return static_cast<size_t>(intrinsics.width) * intrinsics.height; }
    const Intrinsics& lens() const { return intrinsics; }
    // Unit ray of each pixel, x y z interleaved, row-major.
    const std::vector<float>& rays() const { return unitRays; }

    // Organised cloud: points[3 * i ..] = depth[i] * scale * ray(i) for each pixel; pixels
    // without depth (0, negative or not finite) get NaN coordinates. `scale` converts
    // millimetres to the output unit (0.001 for metres). Needs depthCount >= pixels() and
    // pointCapacity >= 3 * pixels() (floats). Returns the number of valid points, or -1
    // when a buffer is too small.
    long compute(const float* depth, size_t depthCount, float scale, float* points,
                 size_t pointCapacity) const;

    // Dense cloud: only the valid points, in pixel order, and (when both are given) the
    // amplitude of each. Capacities as above; amplitudeCapacity >= pixels() when used.
    // Returns the number of points written, or -1.
    long computeDense(const float* depth, size_t depthCount, const float* amplitude,
                      size_t amplitudeCount, float scale, float* points, size_t pointCapacity,
                      float* pointAmplitudes, size_t amplitudeCapacity) const;

private:
    Intrinsics intrinsics;
    std::vector<float> unitRays;
};

}  // namespace Quarvel
