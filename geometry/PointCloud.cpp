// Ray table and the per-frame depth-to-point conversion.
#include "geometry/PointCloud.h"

#include <cmath>
#include <limits>

#include "core/InstructionSetClones.h"

namespace Quarvel {

namespace {
// Positive and finite; '&' keeps the per-pixel loop free of branches.
inline bool hasDepth(float depth) {
    return (depth > 0.0f) & (depth < std::numeric_limits<float>::infinity());
}
}  // namespace

PointCloud::PointCloud(const Intrinsics& lensIntrinsics) : intrinsics(lensIntrinsics) {
    if (!intrinsics.valid()) {
        intrinsics.width = 0;
        intrinsics.height = 0;
    }
    unitRays.assign(3 * pixels(), 0.0f);
    for (int row = 0; row < intrinsics.height; ++row) {
        for (int column = 0; column < intrinsics.width; ++column) {
            double x = 0, y = 0;
            intrinsics.unproject(column, row, x, y);
            const double norm = std::sqrt(x * x + y * y + 1.0);
            float* ray = &unitRays[3 * (static_cast<size_t>(row) * intrinsics.width + column)];
            ray[0] = static_cast<float>(x / norm);
            ray[1] = static_cast<float>(y / norm);
            ray[2] = static_cast<float>(1.0 / norm);
        }
    }
}

QUARVEL_INSTRUCTION_SET_CLONES
long PointCloud::compute(const float* depth, size_t depthCount, float scale, float* points,
                         size_t pointCapacity) const {
    const size_t count = pixels();
    if (depth == nullptr || points == nullptr || depthCount < count || pointCapacity < 3 * count)
        return -1;
    const float notANumber = std::numeric_limits<float>::quiet_NaN();
    const float* ray = unitRays.data();
    long valid = 0;
    for (size_t i = 0; i < count; ++i) {
        const bool usable = hasDepth(depth[i]);
        const float distance = usable ? depth[i] * scale : notANumber;
        points[3 * i] = distance * ray[3 * i];
        points[3 * i + 1] = distance * ray[3 * i + 1];
        points[3 * i + 2] = distance * ray[3 * i + 2];
        valid += usable;
    }
    return valid;
}

long PointCloud::computeDense(const float* depth, size_t depthCount, const float* amplitude,
                              size_t amplitudeCount, float scale, float* points,
                              size_t pointCapacity, float* pointAmplitudes,
                              size_t amplitudeCapacity) const {
    const size_t count = pixels();
    if (depth == nullptr || points == nullptr || depthCount < count || pointCapacity < 3 * count)
        return -1;
    const bool withAmplitude = amplitude != nullptr && pointAmplitudes != nullptr;
    if (withAmplitude && (amplitudeCount < count || amplitudeCapacity < count)) return -1;
    const float* ray = unitRays.data();
    size_t written = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!hasDepth(depth[i])) continue;
        const float distance = depth[i] * scale;
        points[3 * written] = distance * ray[3 * i];
        points[3 * written + 1] = distance * ray[3 * i + 1];
        points[3 * written + 2] = distance * ray[3 * i + 2];
        if (withAmplitude) pointAmplitudes[written] = amplitude[i];
        ++written;
    }
    return static_cast<long>(written);
}

}  // namespace Quarvel
