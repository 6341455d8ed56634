// Builds of the HQVGA phase kernel that carry angles as float pairs (HqvgaPhaseOffsets.h):
// NEON on 32- and 64-bit ARM, and the x86-64 levels. Bit-identical to phaseImageReference; internal to the kernel
// selection of HqvgaPhaseKernel.cpp.
#pragma once

#include <cstdint>

#if defined(__aarch64__) || defined(__arm__)
#define QUARVEL_NEON_PHASE_KERNEL 1
#endif
// GCC only: clang has no shuffle with per-lane variable indices on generic vectors (its
// builds keep the double kernels).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUARVEL_X86_PAIR_PHASE_KERNEL 1
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

#if QUARVEL_X86_PAIR_PHASE_KERNEL
// Same contract as phaseImageReference; each callable only when the CPU has its level
// (x86-64-v4: AVX-512, v3: AVX2 and FMA, v2: SSE4.2).
void phaseImagePairsX86V4(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                          float* depth, float* amplitude, float* confidence);
void phaseImagePairsX86V3(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                          float* depth, float* amplitude, float* confidence);
void phaseImagePairsX86V2(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                          float* depth, float* amplitude, float* confidence);
#endif

// Adds to the running count exactFallbackCount() reports, on this thread.
void addExactFallbacks(uint64_t pixels);

}  // namespace hqvga
}  // namespace Quarvel
