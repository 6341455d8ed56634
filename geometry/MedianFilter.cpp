// 3x3 median from sorted columns: each column triple is sorted once and shared by the three
// windows that hold it, and the median of a window is the median of (largest of its column
// minima, median of its column medians, smallest of its column maxima). Two output rows are
// made together: their columns share two of three pixels, which are cleaned and ordered
// once. Branch-free loops over row chunks for the vectoriser; every result is one of the
// nine inputs (after cleaning), so it equals a sorted median bit for bit.
#include <algorithm>

#include "core/InstructionSetClones.h"
#include "geometry/FilterArguments.h"

namespace Quarvel {
namespace DepthFilters {

namespace {

// Columns per pass: the sorted-column buffers (on the stack) stay in the L1 cache.
constexpr int kChunk = 256;

inline float median3(float a, float b, float c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// A column sorted, for each of the chunk's n + 2 columns (one beyond each side).
struct SortedColumns {
    float low[kChunk + 2];
    float middle[kChunk + 2];
    float high[kChunk + 2];

    void set(int j, float pairLow, float pairHigh, float third) {
        low[j] = std::min(pairLow, third);
        high[j] = std::max(pairHigh, third);
        middle[j] = std::max(pairLow, std::min(pairHigh, third));
    }
    // A column beyond the image's edge repeats the edge column.
    void replicate(int to, int from) {
        low[to] = low[from];
        middle[to] = middle[from];
        high[to] = high[from];
    }
    float medianAround(int i) const {
        // Values first: std::min / std::max on the elements would select addresses, which
        // does not vectorise.
        const float l0 = low[i], l1 = low[i + 1], l2 = low[i + 2];
        const float h0 = high[i], h1 = high[i + 1], h2 = high[i + 2];
        const float m0 = middle[i], m1 = middle[i + 1], m2 = middle[i + 2];
        const float lows = std::max(std::max(l0, l1), l2);
        const float highs = std::min(std::min(h0, h1), h2);
        return median3(lows, median3(m0, m1, m2), highs);
    }
};

}  // namespace

QUARVEL_INSTRUCTION_SET_CLONES
int median3x3(Image depth, Output out, int width, int height) {
    if (!detail::buffersAccepted(depth, out, width, height)) return detail::kInvalidParameter;
    using detail::depthOrZero;
    SortedColumns upper;  // output row y: input rows y - 1, y, y + 1
    SortedColumns lower;  // output row y + 1: input rows y, y + 1, y + 2
    const size_t stride = static_cast<size_t>(width);
    for (int y = 0; y < height; y += 2) {
        // Replicated edges: the first and last rows and columns stand in for what is beyond.
        const bool pair = y + 1 < height;
        const float* __restrict row = depth.data + y * stride;
        const float* __restrict above = y > 0 ? row - stride : row;
        const float* __restrict next = pair ? row + stride : row;
        const float* __restrict afterNext = y + 2 < height ? next + stride : next;
        float* __restrict o = out.data + y * stride;
        // Without a second row, the lower one is made from the upper's rows and dropped.
        float* __restrict oNext = pair ? o + stride : o;
        for (int x0 = 0; x0 < width; x0 += kChunk) {
            const int n = std::min(kChunk, width - x0);
            const bool first = x0 == 0;
            const bool last = x0 + n == width;
            const int begin = first ? 1 : 0;
            const int end = last ? n + 1 : n + 2;
            const int shift = x0 - 1;
            for (int j = begin; j < end; ++j) {
                const float a = depthOrZero(above[shift + j]);
                const float b = depthOrZero(row[shift + j]);
                const float c = depthOrZero(next[shift + j]);
                const float d = depthOrZero(afterNext[shift + j]);
                const float pairLow = std::min(b, c);
                const float pairHigh = std::max(b, c);
                upper.set(j, pairLow, pairHigh, a);
                lower.set(j, pairLow, pairHigh, d);
            }
            if (first) {
                upper.replicate(0, 1);
                lower.replicate(0, 1);
            }
            if (last) {
                upper.replicate(n + 1, n);
                lower.replicate(n + 1, n);
            }
            float* __restrict upperOut = o + x0;
            float* __restrict lowerOut = oNext + x0;
            for (int i = 0; i < n; ++i) lowerOut[i] = lower.medianAround(i);
            for (int i = 0; i < n; ++i) upperOut[i] = upper.medianAround(i);
        }
    }
    return 0;
}

}  // namespace DepthFilters
}  // namespace Quarvel
