// Smoothing over a window that leaves out pixels of another surface.
#include <cmath>

#include "core/InstructionSetClones.h"
#include "geometry/FilterArguments.h"

namespace Quarvel {
namespace DepthFilters {

QUARVEL_INSTRUCTION_SET_CLONES
int smoothPreservingEdges(Image depth, int radius, float maxStepMm, Output out, int width,
                          int height) {
    if (!detail::buffersAccepted(depth, out, width, height) || radius < 1 || radius > 3 ||
        !(maxStepMm > 0.0f))
        return detail::kInvalidParameter;
    using detail::depthOrZero;
    // Window sums of one output row, accumulated shift by shift so that each pass over the
    // row is a plain vectorisable loop. On the stack: nothing is allocated per frame.
    float sums[kMaxWidth];
    float counts[kMaxWidth];
    for (int y = 0; y < height; ++y) {
        const float* row = depth.data + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            sums[x] = 0.0f;
            counts[x] = 0.0f;
        }
        for (int dy = -radius; dy <= radius; ++dy) {
            if (y + dy < 0 || y + dy >= height) continue;
            const float* other = row + static_cast<ptrdiff_t>(dy) * width;
            for (int dx = -radius; dx <= radius; ++dx) {
                const int begin = dx < 0 ? -dx : 0;
                const int end = dx > 0 ? width - dx : width;
                for (int x = begin; x < end; ++x) {
                    const float centre = depthOrZero(row[x]);
                    const float value = depthOrZero(other[x + dx]);
                    const bool close = (value > 0.0f) & (std::fabs(value - centre) <= maxStepMm);
                    sums[x] += close ? value : 0.0f;
                    counts[x] += close ? 1.0f : 0.0f;
                }
            }
        }
        float* o = out.data + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            // The centre is always its own neighbour, so a pixel with depth has a count.
            o[x] = depthOrZero(row[x]) > 0.0f ? sums[x] / counts[x] : 0.0f;
        }
    }
    return 0;
}

}  // namespace DepthFilters
}  // namespace Quarvel
