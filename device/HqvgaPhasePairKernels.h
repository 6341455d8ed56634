// Builds of the HQVGA phase kernel that carry angles as float pairs (HqvgaPhaseOffsets.h):
// NEON on 32- and 64-bit ARM. Bit-identical to phaseImageReference; internal to the kernel
// selection of HqvgaPhaseKernel.cpp.
#pragma once

#include <cstdint>

#if defined(__aarch64__) || defined(__arm__)
#define QUARVEL_NEON_PHASE_KERNEL 1
#endif

namespace Quarvel {
namespace hqvga {

#if QUARVEL_NEON_PHASE_KERNEL
// True when the CPU runs NEON with fused multiply-add: always on 64-bit ARM; on 32-bit ARM
// when the kernel reports NEON and VFPv4 (Cortex-A7, A15, A53 and later; not A8 or A9).
bool neonPhaseKernelSupported();

// Same contract as phaseImageReference; callable only when neonPhaseKernelSupported().
void phaseImageNeon(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                    float* depth, float* amplitude, float* confidence);
#endif

// Adds to the running count exactFallbackCount() reports, on this thread.
void addExactFallbacks(uint64_t pixels);

}  // namespace hqvga
}  // namespace Quarvel
