// Filling of pixels without depth from their neighbours.
#include <algorithm>

#include "core/InstructionSetClones.h"
#include "geometry/FilterArguments.h"

namespace Quarvel {
namespace DepthFilters {

QUARVEL_INSTRUCTION_SET_CLONES
int fillHoles(Image depth, int minNeighbours, Output out, int width, int height) {
    if (!detail::buffersAccepted(depth, out, width, height) || minNeighbours < 1 ||
        minNeighbours > 8)
        return detail::kInvalidParameter;
    using detail::depthOrZero;
    const float* zeros = detail::noDepthRow();
    for (int y = 0; y < height; ++y) {
        const float* row = depth.data + static_cast<size_t>(y) * width;
        const float* above = y > 0 ? row - width : zeros;
        const float* below = y + 1 < height ? row + width : zeros;
        float* o = out.data + static_cast<size_t>(y) * width;
        auto fill = [minNeighbours](float centre, const float(&n)[8]) {
            int counted = 0;
            float farthest = 0.0f;
            for (float value : n) {
                counted += value > 0.0f;
                farthest = std::max(farthest, value);
            }
            return centre > 0.0f ? centre : (counted >= minNeighbours ? farthest : 0.0f);
        };
        auto at = [width](const float* r, int x) {
            return x < 0 || x >= width ? 0.0f : depthOrZero(r[x]);
        };
        auto edgePixel = [&](int x) {
            const float n[8] = {at(above, x - 1), at(above, x),    at(above, x + 1),
                                at(row, x - 1),   at(row, x + 1),  at(below, x - 1),
                                at(below, x),     at(below, x + 1)};
            o[x] = fill(at(row, x), n);
        };
        edgePixel(0);
        for (int x = 1; x + 1 < width; ++x) {
            const float n[8] = {depthOrZero(above[x - 1]), depthOrZero(above[x]),
                                depthOrZero(above[x + 1]), depthOrZero(row[x - 1]),
                                depthOrZero(row[x + 1]),   depthOrZero(below[x - 1]),
                                depthOrZero(below[x]),     depthOrZero(below[x + 1])};
            o[x] = fill(depthOrZero(row[x]), n);
        }
        if (width > 1) edgePixel(width - 1);
    }
    return 0;
}

}  // namespace DepthFilters
}  // namespace Quarvel
