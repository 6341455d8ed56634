// Removal of mixed returns that float between a foreground and a background surface.
#include <algorithm>
#include <cmath>

#include "core/InstructionSetClones.h"
#include "geometry/FilterArguments.h"

namespace Quarvel {
namespace DepthFilters {

namespace {

// The centre c and its neighbours: left/right, up/down and the two diagonals' ends. The
// largest of the two steps along each line, then the smallest over the lines: the pixel
// flies when even that is beyond the step (min/max keep the loop branch-free).
inline float keepOrDrop(float c, float left, float right, float up, float down, float upLeft,
                        float downRight, float upRight, float downLeft, float relativeStep) {
    const float step = relativeStep * c;
    auto distance = [c](float neighbour) {
        // Neighbours without depth (0) never count as far: they cannot tell an edge.
        return neighbour > 0.0f ? std::fabs(neighbour - c) : 0.0f;
    };
    const float horizontal = std::min(distance(left), distance(right));
    const float vertical = std::min(distance(up), distance(down));
    const float falling = std::min(distance(upLeft), distance(downRight));
    const float rising = std::min(distance(upRight), distance(downLeft));
    const float nearest = std::max(std::max(horizontal, vertical), std::max(falling, rising));
    return nearest > step ? 0.0f : c;
}

}  // namespace

QUARVEL_INSTRUCTION_SET_CLONES
int removeFlyingPixels(Image depth, float maxRelativeStep, Output out, int width, int height) {
    if (!detail::buffersAccepted(depth, out, width, height) || !(maxRelativeStep > 0.0f))
        return detail::kInvalidParameter;
    const float* zeros = detail::noDepthRow();
    // Inputs without depth are read as 0 through depthOrZero below.
    for (int y = 0; y < height; ++y) {
        const float* row = depth.data + static_cast<size_t>(y) * width;
        const float* above = y > 0 ? row - width : zeros;
        const float* below = y + 1 < height ? row + width : zeros;
        float* o = out.data + static_cast<size_t>(y) * width;
        using detail::depthOrZero;
        auto at = [width](const float* r, int x) {
            return x < 0 || x >= width ? 0.0f : depthOrZero(r[x]);
        };
        auto edgePixel = [&](int x) {
            o[x] = keepOrDrop(at(row, x), at(row, x - 1), at(row, x + 1), at(above, x),
                              at(below, x), at(above, x - 1), at(below, x + 1), at(above, x + 1),
                              at(below, x - 1), maxRelativeStep);
        };
        edgePixel(0);
        for (int x = 1; x + 1 < width; ++x) {
            o[x] =
                keepOrDrop(depthOrZero(row[x]), depthOrZero(row[x - 1]), depthOrZero(row[x + 1]),
                           depthOrZero(above[x]), depthOrZero(below[x]), depthOrZero(above[x - 1]),
                           depthOrZero(below[x + 1]), depthOrZero(above[x + 1]),
                           depthOrZero(below[x - 1]), maxRelativeStep);
        }
        if (width > 1) edgePixel(width - 1);
    }
    return 0;
}

}  // namespace DepthFilters
}  // namespace Quarvel
