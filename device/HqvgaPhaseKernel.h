// Fast phase-to-depth of the 240x180 sensor, bit-identical to phaseImageReference.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarvel {
namespace hqvga {

// Same contract as phaseImageReference: `raw` holds kRawBytes (four sub-frames), each plane
// kPixels floats. Writes every value of the three planes; allocates nothing.
using PhaseImageFunction = void (*)(const uint8_t* raw, unsigned rawShift, int range,
                                    float frequency, float* depth, float* amplitude,
                                    float* confidence);

// One build of the fast kernel for one instruction set.
struct PhaseKernelVariant {
    const char* name;        // e.g. "x86-64-v4": stable, used in benchmark results
    bool (*supported)();     // true when this CPU (and OS) can run it
    PhaseImageFunction run;  // callable only when supported() is true
};

// Every variant built into this library, best first; the last one runs anywhere.
// Thread-safe (a constant table).
const PhaseKernelVariant* phaseKernelVariants(size_t* count);

// The best variant this CPU supports, chosen once on first use. Thread-safe.
const PhaseKernelVariant& selectedPhaseKernel();

// Depth, amplitude and confidence of one frame with the selected variant. Runs on the
// capture thread; no locks, no allocation.
void phaseImage(const uint8_t* raw, unsigned rawShift, int range, float frequency, float* depth,
                float* amplitude, float* confidence);

// The kernel's own atan2(a, b) for sample differences |a|, |b| <= 2047, before rounding to
// float; its relative error stays below kPhaseEstimateErrorBound, well inside the relative
// margin kExactPathMargin: a pixel whose estimate lies within the margin of a midpoint
// between two floats takes the exact path. `fused`: as the builds with fused multiply-add
// compute it. Exposed for tests.
double phaseEstimate(int a, int b, bool fused);
constexpr double kPhaseEstimateErrorBound = 1.0 / 549755813888.0;  // 2^-39
constexpr double kExactPathMargin = 1.0 / 68719476736.0;           // 2^-36
// The margin must also hold libm's error (an ulp of double, 2^-52) and the rounding of the
// estimate's last steps (a few 2^-53): a factor of 8 leaves room for both many times over.
static_assert(kExactPathMargin >= 8 * kPhaseEstimateErrorBound,
              "the margin must dwarf the estimate's error and libm's");

// Pixels that needed the exact atan2 path on this thread so far (a running count),
// because their phase lay too close to a float rounding boundary. For benchmarks and tests.
uint64_t exactFallbackCount();

}  // namespace hqvga
}  // namespace Quarvel
