// Amplitude or confidence threshold, and the shared row of missing depth.
#include <cmath>

#include "core/InstructionSetClones.h"
#include "geometry/FilterArguments.h"

namespace Quarvel {
namespace DepthFilters {

namespace detail {
const float* noDepthRow() {
    static const float zeros[kMaxWidth + 2] = {};
    return zeros;
}
}  // namespace detail

QUARVEL_INSTRUCTION_SET_CLONES
int thresholdByConfidence(Image depth, Image confidence, float minimum, Output out, int width,
                          int height) {
    if (!detail::buffersAccepted(depth, out, width, height) ||
        !detail::buffersAccepted(confidence, out, width, height) || std::isnan(minimum))
        return detail::kInvalidParameter;
    const size_t pixels = static_cast<size_t>(width) * height;
    const float* d = depth.data;
    const float* c = confidence.data;
    float* o = out.data;
    for (size_t i = 0; i < pixels; ++i) {
        const bool keep = (c[i] >= minimum) & detail::hasDepth(d[i]);
        o[i] = keep ? d[i] : 0.0f;
    }
    return 0;
}

}  // namespace DepthFilters
}  // namespace Quarvel
