// Removal of mixed returns that float between a foreground and a background surface.
#include <cmath>

#include "geometry/FilterArguments.h"

namespace Quarvel {
namespace DepthFilters {

namespace {

// Neighbours without depth (0) never count as far: they cannot tell an edge.
inline bool far(float neighbour, float centre, float step) {
    return neighbour > 0.0f && std::fabs(neighbour - centre) > step;
}

// up/down/left/right and the two diagonals' ends around the centre c.
inline float keepOrDrop(float c, float left, float right, float up, float down, float upLeft,
                        float downRight, float upRight, float downLeft, float relativeStep) {
    const float step = relativeStep * c;
    const bool flying = (far(left, c, step) & far(right, c, step)) |
                        (far(up, c, step) & far(down, c, step)) |
                        (far(upLeft, c, step) & far(downRight, c, step)) |
                        (far(upRight, c, step) & far(downLeft, c, step));
    return flying ? 0.0f : c;
}

}  // namespace

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
            o[x] = keepOrDrop(depthOrZero(row[x]), depthOrZero(row[x - 1]),
                              depthOrZero(row[x + 1]), depthOrZero(above[x]),
                              depthOrZero(below[x]), depthOrZero(above[x - 1]),
                              depthOrZero(below[x + 1]), depthOrZero(above[x + 1]),
                              depthOrZero(below[x - 1]), maxRelativeStep);
        }
        if (width > 1) edgePixel(width - 1);
    }
    return 0;
}

}  // namespace DepthFilters
}  // namespace Quarvel
