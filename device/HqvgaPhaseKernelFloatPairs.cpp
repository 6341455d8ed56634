// x86-64 phase-to-depth with angles carried as float pairs, in the compiler's generic vectors.
//
// Why: the double kernel gets four lanes per AVX2 vector; floats get eight, and the float
// pair method of HqvgaPhaseKernelNeon.cpp (the error argument is in its header) decides
// the rounding of the double atan2 just as well. The x86 builds differ from NEON in how
// they find atan(s / l), s <= l integers:
//   - k = round(31 s / l) in 0..31 picks atan(k / 31) from a table of 32 float pairs that
//     lives in registers (a variable lane permute per 8 or 16 entries, no memory gather,
//     which AVX2 CPUs run slowly or the compiler does not emit);
//   - v = (31 s - k l) / (31 l + k s), |v| <= 1/62, numerator and denominator integers
//     below 2^17 (exact in float); vh = N / D is a correctly rounded division, the
//     remainder N - vh D is exact (one fused multiply-subtract, or a double product on
//     x86-64-v2, whose 24 x 17 bits are exact in double), vl = remainder / D;
//   - atan(v) = vh + vl + vh^3 (-1/3 + vh^2 / 5) - vl vh^2, the tail in plain float: its
//     error stays below 2^-37 of v;
//   - the octant's base (0, pi or pi/2, a float pair) and sign are applied by two exact
//     two-sums, then hi + lo is normalised and tested as on NEON.
// Amplitude: 8 * sqrt(a*a + b*b) in float equals the reference (see HqvgaPhaseKernel.cpp).
#include "device/HqvgaPhasePairKernels.h"

#if QUARVEL_X86_PAIR_PHASE_KERNEL

#include <immintrin.h>

#include <cmath>
#include <cstring>

#include "device/HqvgaKernels.h"
#include "device/HqvgaPhaseOffsets.h"

#define QUARVEL_PAIR_INLINE inline __attribute__((always_inline))

namespace Quarvel {
namespace hqvga {

namespace {

constexpr int kSteps = 31;  // atan(k / 31), k = 0..31: 32 entries

// The 32 entries atan(k / 31) and the four octant bases as float pairs (hi, lo), in
// whole vectors of the build's width.
struct PairTables {
    alignas(64) float hi[32];
    alignas(64) float lo[32];
    // Octant kind 2 * swapped + mirrored: base 0, pi, pi/2, pi/2 (repeated to 16 lanes).
    alignas(64) float baseHi[16];
    alignas(64) float baseLo[16];
    PairTables() {
        const double pi = 3.14159265358979323846;
        for (int k = 0; k < 32; ++k) {
            const double angle = std::atan(static_cast<double>(k) / kSteps);
            hi[k] = static_cast<float>(angle);
            lo[k] = static_cast<float>(angle - static_cast<double>(hi[k]));
        }
        const double bases[4] = {0.0, pi, pi / 2, pi / 2};
        for (int i = 0; i < 16; ++i) {
            baseHi[i] = static_cast<float>(bases[i % 4]);
            baseLo[i] = static_cast<float>(bases[i % 4] - static_cast<double>(baseHi[i]));
        }
    }
};

const PairTables& pairTables() {
    static const PairTables tables;
    return tables;
}


// The vector types of one width.
#define QUARVEL_PAIR_VECTOR_TYPES(lanes)                                        \
    constexpr int kLanes = lanes;                                                \
    typedef float Float __attribute__((vector_size(4 * kLanes)));                \
    typedef int32_t Int __attribute__((vector_size(4 * kLanes)));                \
    typedef uint32_t Bits __attribute__((vector_size(4 * kLanes)));              \
    typedef uint16_t Samples __attribute__((vector_size(2 * kLanes)));           \
    typedef int16_t Differences __attribute__((vector_size(2 * kLanes)));

// Each level's code is compiled under its own target options, so that the generic vectors
// and the few instructions written by name (sign extension, fused multiply-subtract,
// square root, reciprocal estimate, lane test: no generic form or a poor one) are that level's.
#pragma GCC push_options
#pragma GCC target("arch=x86-64-v4,prefer-vector-width=512")
namespace level4 {
QUARVEL_PAIR_VECTOR_TYPES(16)
// Sign extension in one instruction (GCC 12 splits the generic conversion into four).
QUARVEL_PAIR_INLINE Int widen(Differences d) {
    return reinterpret_cast<Int>(_mm512_maskz_cvtepi16_epi32(0xFFFF, reinterpret_cast<__m256i>(d)));
}
// numerator - vh * denominator, exactly (the caller guarantees the result is a float).
QUARVEL_PAIR_INLINE Float exactRemainder(Float numerator, Float vh, Float denominator) {
    return reinterpret_cast<Float>(_mm512_fnmadd_ps(reinterpret_cast<__m512>(vh),
                                                    reinterpret_cast<__m512>(denominator),
                                                    reinterpret_cast<__m512>(numerator)));
}
QUARVEL_PAIR_INLINE Float reciprocalEstimate(Float x) {
    return reinterpret_cast<Float>(_mm512_maskz_rcp14_ps(0xFFFF, reinterpret_cast<__m512>(x)));
}
QUARVEL_PAIR_INLINE Float squareRoot(Float x) {
    // The zero-masking form: GCC 12 warns of the plain one's undefined pass-through.
    return reinterpret_cast<Float>(_mm512_maskz_sqrt_ps(0xFFFF, reinterpret_cast<__m512>(x)));
}
QUARVEL_PAIR_INLINE bool anyLane(Int mask) {
    return _mm512_test_epi32_mask(reinterpret_cast<__m512i>(mask),
                                  reinterpret_cast<__m512i>(mask)) != 0;
}
#include "device/HqvgaPhasePairLanes.inc"
}  // namespace level4
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("arch=x86-64-v3")
namespace level3 {
QUARVEL_PAIR_VECTOR_TYPES(8)
QUARVEL_PAIR_INLINE Int widen(Differences d) {
    return reinterpret_cast<Int>(_mm256_cvtepi16_epi32(reinterpret_cast<__m128i>(d)));
}
QUARVEL_PAIR_INLINE Float exactRemainder(Float numerator, Float vh, Float denominator) {
    return reinterpret_cast<Float>(_mm256_fnmadd_ps(reinterpret_cast<__m256>(vh),
                                                    reinterpret_cast<__m256>(denominator),
                                                    reinterpret_cast<__m256>(numerator)));
}
QUARVEL_PAIR_INLINE Float reciprocalEstimate(Float x) {
    return reinterpret_cast<Float>(_mm256_rcp_ps(reinterpret_cast<__m256>(x)));
}
QUARVEL_PAIR_INLINE Float squareRoot(Float x) {
    return reinterpret_cast<Float>(_mm256_sqrt_ps(reinterpret_cast<__m256>(x)));
}
QUARVEL_PAIR_INLINE bool anyLane(Int mask) {
    return !_mm256_testz_si256(reinterpret_cast<__m256i>(mask), reinterpret_cast<__m256i>(mask));
}
#include "device/HqvgaPhasePairLanes.inc"
}  // namespace level3
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("arch=x86-64-v2")
namespace level2 {
QUARVEL_PAIR_VECTOR_TYPES(4)
QUARVEL_PAIR_INLINE Int widen(Differences d) { return __builtin_convertvector(d, Int); }
// No fused multiply-add at this level: the product of a 24-bit and a 17-bit number is
// exact in double, and so is its difference from the numerator.
QUARVEL_PAIR_INLINE Float exactRemainder(Float numerator, Float vh, Float denominator) {
    typedef double Double __attribute__((vector_size(8 * kLanes)));
    const Double exact = __builtin_convertvector(numerator, Double) -
                         __builtin_convertvector(vh, Double) *
                             __builtin_convertvector(denominator, Double);
    return __builtin_convertvector(exact, Float);
}
QUARVEL_PAIR_INLINE Float reciprocalEstimate(Float x) {
    return reinterpret_cast<Float>(_mm_rcp_ps(reinterpret_cast<__m128>(x)));
}
QUARVEL_PAIR_INLINE Float squareRoot(Float x) {
    return reinterpret_cast<Float>(_mm_sqrt_ps(reinterpret_cast<__m128>(x)));
}
QUARVEL_PAIR_INLINE bool anyLane(Int mask) {
    return _mm_movemask_ps(reinterpret_cast<__m128>(mask)) != 0;
}
#include "device/HqvgaPhasePairLanes.inc"
}  // namespace level2
#pragma GCC pop_options

}  // namespace

void phaseImagePairsX86V4(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                          float* depth, float* amplitude, float* confidence) {
    level4::pairFrame(raw, rawShift, range, frequency, depth, amplitude, confidence);
}

void phaseImagePairsX86V3(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                          float* depth, float* amplitude, float* confidence) {
    level3::pairFrame(raw, rawShift, range, frequency, depth, amplitude, confidence);
}

void phaseImagePairsX86V2(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                          float* depth, float* amplitude, float* confidence) {
    level2::pairFrame(raw, rawShift, range, frequency, depth, amplitude, confidence);
}

}  // namespace hqvga
}  // namespace Quarvel

#endif
