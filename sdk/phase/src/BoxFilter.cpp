// Box filter: one pass down the plane, each row filtered into a small ring of lines.
#include "sdk/phase/src/BoxFilter.h"

#include <algorithm>
#include <cstddef>

#include "sdk/phase/src/VectorClones.h"

namespace si4c {

namespace {

// Radii up to this have their window unrolled; larger ones take the plain loops.
constexpr int kUnrolledRadius = 4;

// Mean of row[x - r .. x + r] with r = min(x, width - 1 - x): a border column.
inline float borderMean(const float* row, int width, int x) {
    const int r = std::min(x, width - 1 - x);
    float sum = 0.0f;
    for (int k = -r; k <= r; ++k) sum += row[x + k];
    return sum / static_cast<float>(2 * r + 1);
}

// target[x] = (source[x - R] + source[x - R + 1] + ... + source[x + R]) * scale, summed in
// that order, for x in [0, count).
template <int R>
inline void windowSums(const float* __restrict source, float* __restrict target, int count,
                       float scale) {
    for (int x = 0; x < count; ++x) {
        float sum = source[x - R];
        for (int k = -R + 1; k <= R; ++k) sum += source[x + k];
        target[x] = sum * scale;
    }
}

inline void windowSums(const float* __restrict source, float* __restrict target, int count,
                       int radius, float scale) {
    for (int x = 0; x < count; ++x) {
        float sum = source[x - radius];
        for (int k = -radius + 1; k <= radius; ++k) sum += source[x + k];
        target[x] = sum * scale;
    }
}

// One row: out[x] = mean of in[x - rx .. x + rx], rx = min(radius, x, width - 1 - x).
inline void filterRow(const float* __restrict in, float* __restrict out, int width,
                      int radius) {
    const int left = std::min(radius, width);          // [0, left) is border
    const int right = std::max(width - radius, left);  // [right, width) is border
    for (int x = 0; x < left; ++x) out[x] = borderMean(in, width, x);
    for (int x = right; x < width; ++x) out[x] = borderMean(in, width, x);
    const int count = right - left;
    if (count <= 0) return;
    const float scale = 1.0f / static_cast<float>(2 * radius + 1);
    const float* source = in + left;
    float* target = out + left;
    switch (radius) {
        case 1: windowSums<1>(source, target, count, scale); break;
        case 2: windowSums<2>(source, target, count, scale); break;
        case 3: windowSums<3>(source, target, count, scale); break;
        case 4: windowSums<4>(source, target, count, scale); break;
        default: windowSums(source, target, count, radius, scale); break;
    }
}

// out[x] = (rows[0][x] + rows[1][x] + ... + rows[N - 1][x]) * scale, summed in that order.
// The rows lie in the ring, never in `out`.
template <int N>
inline void columnSums(const float* const* rows, float* __restrict out, size_t width,
                       float scale) {
    const float* line[N];
    for (int k = 0; k < N; ++k) line[k] = rows[k];
#pragma GCC ivdep
    for (size_t x = 0; x < width; ++x) {
        float sum = line[0][x];
        for (int k = 1; k < N; ++k) sum += line[k][x];
        out[x] = sum * scale;
    }
}

}  // namespace

// Rows are filtered horizontally into a ring of min(2 radius + 1, height) lines held in
// `scratch`; output row y is written once rows up to y + radius are in the ring. Row y of
// the plane is read before any output row at or below it is written, so the filter works in
// place. The sums run in the same order as the two-pass definition (left to right within a
// row, top to bottom within a column), so the result is the same to the bit.
SI4C_VECTOR_CLONES
void boxFilterInPlace(float* plane, float* scratch, int width, int height, int radius) {
    if (radius <= 0 || width <= 0 || height <= 0) return;
    const size_t stride = static_cast<size_t>(width);
    const int lines = std::min(2 * radius + 1, height);
    for (int y = 0; y < height + radius; ++y) {
        if (y < height) {
            filterRow(plane + static_cast<size_t>(y) * stride,
                      scratch + static_cast<size_t>(y % lines) * stride, width, radius);
        }
        const int row = y - radius;
        if (row < 0) continue;
        const int ry = std::min(radius, std::min(row, height - 1 - row));
        float* const out = plane + static_cast<size_t>(row) * stride;
        const float scale = 1.0f / static_cast<float>(2 * ry + 1);
        if (ry == radius && radius <= kUnrolledRadius) {
            const float* window[2 * kUnrolledRadius + 1];
            for (int k = 0; k <= 2 * ry; ++k) {
                window[k] = scratch + static_cast<size_t>((row - ry + k) % lines) * stride;
            }
            switch (ry) {
                case 1: columnSums<3>(window, out, stride, scale); break;
                case 2: columnSums<5>(window, out, stride, scale); break;
                case 3: columnSums<7>(window, out, stride, scale); break;
                default: columnSums<9>(window, out, stride, scale); break;
            }
            continue;
        }
        const float* first = scratch + static_cast<size_t>((row - ry) % lines) * stride;
        for (size_t x = 0; x < stride; ++x) out[x] = first[x];
        for (int k = -ry + 1; k <= ry; ++k) {
            const float* line = scratch + static_cast<size_t>((row + k) % lines) * stride;
            for (size_t x = 0; x < stride; ++x) out[x] += line[x];
        }
        for (size_t x = 0; x < stride; ++x) out[x] *= scale;
    }
}

}  // namespace si4c
