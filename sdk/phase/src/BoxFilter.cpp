// Box filter over a whole plane: rows filtered into a small ring, columns summed from it.
#include "sdk/phase/src/BoxFilter.h"

#include <algorithm>
#include <cstddef>

#include "sdk/phase/src/BoxFilterRows.h"
#include "sdk/phase/src/VectorClones.h"

namespace si4c {

// Row y is filtered horizontally into the ring (min(2 radius + 1, height) lines held in
// `scratch`); output row y - radius is written once rows up to y are in the ring. Row y of
// the plane is read before any output row at or below it is written, so the filter works in
// place. The sums run in the order of the two-pass definition (left to right within a row,
// top to bottom within a column), so the result is the same to the bit.
namespace {

inline __attribute__((always_inline)) void boxFilterInPlaceBody(float* plane, float* scratch,
                                                                int width, int height, int radius) {
    if (radius <= 0 || width <= 0 || height <= 0) return;
    const size_t stride = static_cast<size_t>(width);
    const rows::Ring ring{scratch, stride, std::min(2 * radius + 1, height)};
    for (int y = 0; y < height + radius; ++y) {
        if (y < height)
            rows::filterRow(plane + static_cast<size_t>(y) * stride, ring.row(y), width, radius);
        const int row = y - radius;
        if (row < 0) continue;
        rows::columnMean(ring, row, rows::rowRadius(row, height, radius),
                         plane + static_cast<size_t>(row) * stride);
    }
}

}  // namespace

SI4C_LEVEL_BUILDS(boxFilterInPlace,
                  (float* plane, float* scratch, int width, int height, int radius),
                  (plane, scratch, width, height, radius))

}  // namespace si4c
