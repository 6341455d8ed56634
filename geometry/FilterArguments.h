// Checks and pixel helpers shared by the depth filters (internal).
#pragma once

#include <cstddef>
#include <limits>

#include "geometry/DepthFilters.h"

namespace Quarvel {
namespace DepthFilters {
namespace detail {

constexpr int kInvalidParameter = 1;

inline bool sizeAccepted(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxWidth && height <= 1000000;
}

// Both buffers hold the image and do not share memory.
inline bool buffersAccepted(Image in, Output out, int width, int height) {
    if (!sizeAccepted(width, height) || in.data == nullptr || out.data == nullptr) return false;
    const size_t pixels = static_cast<size_t>(width) * height;
    if (in.count < pixels || out.count < pixels) return false;
    const float* outBegin = out.data;
    const float* outEnd = out.data + pixels;
    return in.data + pixels <= outBegin || outEnd <= in.data;
}

// Depth that counts: positive and finite (NaN fails every comparison). Bitwise '&', not
// '&&': no branch, so the filters' loops vectorise.
inline bool hasDepth(float depth) {
    return (depth > 0.0f) & (depth < std::numeric_limits<float>::infinity());
}
inline float depthOrZero(float depth) { return hasDepth(depth) ? depth : 0.0f; }

// A row of "no depth" standing in for the rows above the first and below the last.
const float* noDepthRow();

}  // namespace detail
}  // namespace DepthFilters
}  // namespace Quarvel
