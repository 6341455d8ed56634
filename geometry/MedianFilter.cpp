// 3x3 median by a 19-comparison selection network, branch-free for the vectoriser.
#include <algorithm>

#include "core/InstructionSetClones.h"
#include "geometry/FilterArguments.h"

namespace Quarvel {
namespace DepthFilters {

namespace {

inline void order(float& a, float& b) {
    const float low = std::min(a, b);
    b = std::max(a, b);
    a = low;
}

inline float medianOf9(float p0, float p1, float p2, float p3, float p4, float p5, float p6,
                       float p7, float p8) {
    order(p1, p2);
    order(p4, p5);
    order(p7, p8);
    order(p0, p1);
    order(p3, p4);
    order(p6, p7);
    order(p1, p2);
    order(p4, p5);
    order(p7, p8);
    order(p0, p3);
    order(p5, p8);
    order(p4, p7);
    order(p3, p6);
    order(p1, p4);
    order(p2, p5);
    order(p4, p7);
    order(p4, p2);
    order(p6, p4);
    order(p4, p2);
    return p4;
}

}  // namespace

QUARVEL_INSTRUCTION_SET_CLONES
int median3x3(Image depth, Output out, int width, int height) {
    if (!detail::buffersAccepted(depth, out, width, height)) return detail::kInvalidParameter;
    using detail::depthOrZero;
    for (int y = 0; y < height; ++y) {
        // Replicated edges: the first and last rows and columns stand in for what is beyond.
        const float* row = depth.data + static_cast<size_t>(y) * width;
        const float* above = y > 0 ? row - width : row;
        const float* below = y + 1 < height ? row + width : row;
        float* o = out.data + static_cast<size_t>(y) * width;
        auto edgePixel = [&](int x) {
            const int l = std::max(x - 1, 0), r = std::min(x + 1, width - 1);
            o[x] = medianOf9(depthOrZero(above[l]), depthOrZero(above[x]), depthOrZero(above[r]),
                             depthOrZero(row[l]), depthOrZero(row[x]), depthOrZero(row[r]),
                             depthOrZero(below[l]), depthOrZero(below[x]), depthOrZero(below[r]));
        };
        edgePixel(0);
        for (int x = 1; x + 1 < width; ++x) {
            o[x] = medianOf9(
                depthOrZero(above[x - 1]), depthOrZero(above[x]), depthOrZero(above[x + 1]),
                depthOrZero(row[x - 1]), depthOrZero(row[x]), depthOrZero(row[x + 1]),
                depthOrZero(below[x - 1]), depthOrZero(below[x]), depthOrZero(below[x + 1]));
        }
        if (width > 1) edgePixel(width - 1);
    }
    return 0;
}

}  // namespace DepthFilters
}  // namespace Quarvel
