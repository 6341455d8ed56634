// Post-processing filters for depth frames (float millimetres, 0 where there is no depth).
#pragma once

#include <cstddef>
#include <vector>

namespace Quarvel {
namespace DepthFilters {

// Every filter reads `width` x `height` values from `depth` (row-major) and writes as many
// to `out`; the counts say how many floats each buffer holds, and a filter refuses (1,
// invalid parameter) a buffer too small, a size out of range or `out` equal to the input.
// A filter writes 0 where it has no depth; input values that are 0, negative or not
// finite count as no depth. Each allocates nothing and is thread-safe on distinct
// buffers; 0 is success. Widths up to kMaxWidth.
constexpr int kMaxWidth = 4096;

struct Image {
    const float* data = nullptr;
    size_t count = 0;
};
struct Output {
    float* data = nullptr;
    size_t count = 0;
};

// Keeps depth where `confidence` (amplitude or confidence plane, same size) is at least
// `minimum`.
int thresholdByConfidence(Image depth, Image confidence, float minimum, Output out, int width,
                          int height);

// Removes flying pixels: the mixed returns of a pixel that straddles a depth edge, which
// land between the two surfaces. A pixel goes when, along some line through it
// (horizontal, vertical or a diagonal), both neighbours lie more than maxRelativeStep x
// its depth away from it. The true pixels on either side of an edge keep one close
// neighbour and stay.
int removeFlyingPixels(Image depth, float maxRelativeStep, Output out, int width, int height);

// Edge-preserving smoothing: each pixel becomes the mean of the pixels of its
// (2 radius + 1)^2 window (radius 1..3) whose depth is within maxStepMm of its own, so
// surfaces are smoothed and edges are not blurred. Pixels without depth stay so.
int smoothPreservingEdges(Image depth, int radius, float maxStepMm, Output out, int width,
                          int height);

// Fills small holes: a pixel without depth that has at least minNeighbours (1..8) of its 8
// neighbours with depth takes the farthest of them, so that a hole at an edge is filled
// from the background and no new flying pixel is made.
int fillHoles(Image depth, int minNeighbours, Output out, int width, int height);

// 3x3 median, edges replicated (as OpenCV's medianBlur); missing depth counts as 0.
int median3x3(Image depth, Output out, int width, int height);

// Temporal smoothing: an exponential moving average per pixel,
//   out = previous + alpha (depth - previous),
// restarted at the new value wherever the depth jumps by more than jumpMm (something
// moved) or a pixel gains or loses its depth. The history is allocated at construction.
// Not thread-safe: one filter per stream.
class TemporalFilter {
public:
    TemporalFilter(int width, int height, float alpha, float jumpMm);

    int apply(Image depth, Output out);
    // Forgets the history: the next frame passes unchanged.
    void reset();

    int width() const { return filterWidth; }
    int height() const { return filterHeight; }

private:
    int filterWidth;
    int filterHeight;
    float alpha;
    float jumpMm;
    bool primed = false;
    std::vector<float> history;
};

}  // namespace DepthFilters
}  // namespace Quarvel
