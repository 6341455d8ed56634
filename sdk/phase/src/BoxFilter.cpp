// Box filter: per-offset accumulation, so that the inner loops run over whole rows.
#include "sdk/phase/src/BoxFilter.h"

#include <algorithm>
#include <cstddef>

namespace si4c {

namespace {

// Mean of row[x - r .. x + r] with r = min(x, width - 1 - x): a border column.
float borderMean(const float* row, int width, int x) {
    const int r = std::min(x, width - 1 - x);
    float sum = 0.0f;
    for (int k = -r; k <= r; ++k) sum += row[x + k];
    return sum / static_cast<float>(2 * r + 1);
}

// One row: out[x] = mean of in[x - rx .. x + rx], rx = min(radius, x, width - 1 - x).
void filterRow(const float* in, float* out, int width, int radius) {
    const int left = std::min(radius, width);          // [0, left) is border
    const int right = std::max(width - radius, left);  // [right, width) is border
    for (int x = 0; x < left; ++x) out[x] = borderMean(in, width, x);
    for (int x = right; x < width; ++x) out[x] = borderMean(in, width, x);
    const int count = right - left;
    if (count <= 0) return;
    float* const target = out + left;
    const float* const source = in + left;
    for (int x = 0; x < count; ++x) target[x] = source[x - radius];
    for (int k = -radius + 1; k <= radius; ++k) {
        for (int x = 0; x < count; ++x) target[x] += source[x + k];
    }
    const float scale = 1.0f / static_cast<float>(2 * radius + 1);
    for (int x = 0; x < count; ++x) target[x] *= scale;
}

}  // namespace

void boxFilterInPlace(float* plane, float* scratch, int width, int height, int radius) {
    if (radius <= 0 || width <= 0 || height <= 0) return;
    const size_t stride = static_cast<size_t>(width);
    for (int y = 0; y < height; ++y) {
        filterRow(plane + y * stride, scratch + y * stride, width, radius);
    }
    for (int y = 0; y < height; ++y) {
        const int ry = std::min(radius, std::min(y, height - 1 - y));
        float* const out = plane + y * stride;
        const float* first = scratch + (y - ry) * stride;
        for (size_t x = 0; x < stride; ++x) out[x] = first[x];
        for (int k = -ry + 1; k <= ry; ++k) {
            const float* row = scratch + (y + k) * stride;
            for (size_t x = 0; x < stride; ++x) out[x] += row[x];
        }
        const float scale = 1.0f / static_cast<float>(2 * ry + 1);
        for (size_t x = 0; x < stride; ++x) out[x] *= scale;
    }
}

}  // namespace si4c
