// Row steps of the box filter, inlined into the per-instruction-set builds that use them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "sdk/phase/src/VectorClones.h"

namespace si4c {
namespace rows {

// Radii up to this have their window unrolled; larger ones take the plain loops. Both add
// in the same order, so they give the same bits.
constexpr int kUnrolledRadius = 4;

// Rows of floats are summed as floats. Rows of 16-bit integers (differences of 12-bit
// samples, |value| < 4096) are summed as integers: in windows of fewer than 4096 terms
// every partial sum of such floats is an integer below 2^24 and so exact, and the integer
// sum converted to float is the same float. Up to 7 terms the sum fits 16 bits, and a
// vector holds twice as many of them.
template <typename Value, int Terms>
struct WindowSum {
    using Type = float;
};
template <int Terms>
struct WindowSum<int16_t, Terms> {
    using Type = typename std::conditional<(Terms <= 7), int16_t, int32_t>::type;
};
// For windows whose length is known only at run time.
constexpr int kAnyTerms = 1 << 16;

// Mean of row[x - r .. x + r] with r = min(x, width - 1 - x): a border column.
template <typename Value>
inline float borderMean(const Value* row, int width, int x) {
    const int r = std::min(x, width - 1 - x);
    typename WindowSum<Value, kAnyTerms>::Type sum = 0;
    for (int k = -r; k <= r; ++k) sum += row[x + k];
    return static_cast<float>(sum) / static_cast<float>(2 * r + 1);
}

// target[x] = (source[x - R] + source[x - R + 1] + ... + source[x + R]) * scale, summed in
// that order, for x in [0, count).
template <int R, typename Value>
inline void windowSums(const Value* __restrict source, float* __restrict target, int count,
                       float scale) {
    using Sum = typename WindowSum<Value, 2 * R + 1>::Type;
    for (int x = 0; x < count; ++x) {
        Sum sum = source[x - R];
        for (int k = -R + 1; k <= R; ++k) sum += source[x + k];
        target[x] = static_cast<float>(sum) * scale;
    }
}

template <typename Value>
inline void windowSums(const Value* __restrict source, float* __restrict target, int count,
                       int radius, float scale) {
    using Sum = typename WindowSum<Value, kAnyTerms>::Type;
    for (int x = 0; x < count; ++x) {
        Sum sum = source[x - radius];
        for (int k = -radius + 1; k <= radius; ++k) sum += source[x + k];
        target[x] = static_cast<float>(sum) * scale;
    }
}

// One row: out[x] = mean of in[x - rx .. x + rx], rx = min(radius, x, width - 1 - x).
// Radius 0 copies (times 1).
template <typename Value>
inline void filterRow(const Value* __restrict in, float* __restrict out, int width, int radius) {
    const int left = std::min(radius, width);          // [0, left) is border
    const int right = std::max(width - radius, left);  // [right, width) is border
    for (int x = 0; x < left; ++x) out[x] = borderMean(in, width, x);
    for (int x = right; x < width; ++x) out[x] = borderMean(in, width, x);
    const int count = right - left;
    if (count <= 0) return;
    const float scale = 1.0f / static_cast<float>(2 * radius + 1);
    const Value* source = in + left;
    float* target = out + left;
    switch (radius) {
        case 1:
            windowSums<1>(source, target, count, scale);
            break;
        case 2:
            windowSums<2>(source, target, count, scale);
            break;
        case 3:
            windowSums<3>(source, target, count, scale);
            break;
        case 4:
            windowSums<4>(source, target, count, scale);
            break;
        default:
            windowSums(source, target, count, radius, scale);
            break;
    }
}

// Rows of a plane kept in a ring of `lines` rows of `width` floats: row y at y mod lines.
struct Ring {
    float* base = nullptr;
    size_t width = 0;
    int lines = 1;
    float* row(int y) const { return base + static_cast<size_t>(y % lines) * width; }
};

// out[x] = (rows[0][x] + ... + rows[N - 1][x]) * scale, summed in that order. The rows
// never overlap `out`.
template <int N>
inline void columnSums(const float* const* rows, float* __restrict out, size_t width, float scale) {
    const float* line[N];
    for (int k = 0; k < N; ++k) line[k] = rows[k];
    SI4C_IVDEP
    for (size_t x = 0; x < width; ++x) {
        float sum = line[0][x];
        for (int k = 1; k < N; ++k) sum += line[k][x];
        out[x] = sum * scale;
    }
}

// out = mean of the ring's rows y - ry .. y + ry (summed top to bottom, then scaled by
// 1 / (2 ry + 1)); `out` lies outside the ring.
inline void columnMean(const Ring& ring, int y, int ry, float* __restrict out) {
    const size_t width = ring.width;
    const float scale = 1.0f / static_cast<float>(2 * ry + 1);
    if (ry >= 1 && ry <= kUnrolledRadius) {
        const float* window[2 * kUnrolledRadius + 1];
        for (int k = 0; k <= 2 * ry; ++k) window[k] = ring.row(y - ry + k);
        switch (ry) {
            case 1:
                columnSums<3>(window, out, width, scale);
                return;
            case 2:
                columnSums<5>(window, out, width, scale);
                return;
            case 3:
                columnSums<7>(window, out, width, scale);
                return;
            default:
                columnSums<9>(window, out, width, scale);
                return;
        }
    }
    const float* first = ring.row(y - ry);
    for (size_t x = 0; x < width; ++x) out[x] = first[x];
    for (int k = -ry + 1; k <= ry; ++k) {
        const float* line = ring.row(y + k);
        for (size_t x = 0; x < width; ++x) out[x] += line[x];
    }
    for (size_t x = 0; x < width; ++x) out[x] *= scale;
}

// Vertical radius of output row y: the window shrinks symmetrically at the top and bottom.
inline int rowRadius(int y, int height, int radius) {
    return std::min(radius, std::min(y, height - 1 - y));
}

}  // namespace rows
}  // namespace si4c
