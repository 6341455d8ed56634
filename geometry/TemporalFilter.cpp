// Per-pixel moving average over frames that starts again where the scene changed.
#include <cmath>

#include "core/InstructionSetClones.h"
#include "geometry/FilterArguments.h"

namespace Quarvel {
namespace DepthFilters {

TemporalFilter::TemporalFilter(int width, int height, float smoothing, float jump)
    : filterWidth(detail::sizeAccepted(width, height) ? width : 0),
      filterHeight(detail::sizeAccepted(width, height) ? height : 0),
      alpha(smoothing),
      jumpMm(jump),
      history(static_cast<size_t>(filterWidth) * filterHeight, 0.0f) {}

void TemporalFilter::reset() { primed = false; }

QUARVEL_INSTRUCTION_SET_CLONES
int TemporalFilter::apply(Image depth, Output out) {
    if (filterWidth == 0 || !(alpha > 0.0f && alpha <= 1.0f) || !(jumpMm > 0.0f) ||
        !detail::buffersAccepted(depth, out, filterWidth, filterHeight))
        return detail::kInvalidParameter;
    const size_t pixels = history.size();
    const float* d = depth.data;
    float* o = out.data;
    float* h = history.data();
    // Locals: stores through `o` and `h` could otherwise alias the members each pixel.
    const float weight = primed ? alpha : 1.0f;
    const float jump = jumpMm;
    for (size_t i = 0; i < pixels; ++i) {
        const float current = detail::depthOrZero(d[i]);
        const float previous = h[i];
        const bool continues =
            (current > 0.0f) & (previous > 0.0f) & (std::fabs(current - previous) <= jump);
        const float averaged = previous + weight * (current - previous);
        const float value = continues ? averaged : current;
        h[i] = value;
        o[i] = value;
    }
    primed = true;
    return 0;
}

}  // namespace DepthFilters
}  // namespace Quarvel
