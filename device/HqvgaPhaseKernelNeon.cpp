// NEON phase-to-depth: float arithmetic carried in hi + lo pairs, exact where it decides.
//
// Why it is exact: 32-bit ARM has no double-precision vectors, and one float cannot decide
// how a double atan2 rounds to float. Each angle is therefore computed as an unevaluated
// sum hi + lo of two floats, good to about 2^-40 of the angle:
//   - the octant reduction leaves s <= l (integers); k = round(64 s / l) picks a table entry
//     holding the octant's offset +/- atan(k/64) as a float pair, and
//     atan(s/l) = atan(k/64) + atan(v), v = (64 s - k l) / (64 l + k s), |v| <= 1/128,
//     whose numerator and denominator are integers below 2^18, exact in float;
//   - v itself is a pair: vh ~ N/D from the reciprocal estimate, then the remainder
//     N - vh * D, exact under one fused multiply-subtract, divided by D gives vl;
//   - atan(v) - v = v^3 (-1/3 + v^2 / 5) + O(v^7) is below 2^-14 v: plain float suffices.
// The pair is then normalised so that hi is the float nearest to hi + lo. The true angle
// rounds to hi unless it lies within the error margin of the midpoint to hi's neighbour;
// those pixels (about 1 in 250) are recomputed with the reference formula.
// Amplitude: 8 * sqrt(a*a + b*b) in float equals the reference (see HqvgaPhaseKernel.cpp).
#include "device/HqvgaPhasePairKernels.h"

#if QUARVEL_NEON_PHASE_KERNEL

#include <arm_neon.h>

#include "device/HqvgaKernels.h"
#include "device/HqvgaPhaseOffsets.h"

#if defined(__arm__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#if !defined(__ARM_FEATURE_FMA)
#error "build this file with -mfpu=neon-vfpv4: the remainder needs fused multiply-subtract"
#endif
#endif

namespace Quarvel {
namespace hqvga {

namespace {

// 1 / x to about 2^-22 (estimate and two Newton steps; x >= 1).
inline float32x4_t reciprocal(float32x4_t x) {
    float32x4_t r = vrecpeq_f32(x);
    r = vmulq_f32(r, vrecpsq_f32(x, r));
    return vmulq_f32(r, vrecpsq_f32(x, r));
}

inline float32x4_t squareRoot(float32x4_t x) {
#if defined(__aarch64__)
    return vsqrtq_f32(x);
#else
    // No vector square root on 32-bit NEON: VFP's, one lane at a time (correctly rounded).
    return float32x4_t{__builtin_sqrtf(vgetq_lane_f32(x, 0)), __builtin_sqrtf(vgetq_lane_f32(x, 1)),
                       __builtin_sqrtf(vgetq_lane_f32(x, 2)), __builtin_sqrtf(vgetq_lane_f32(x, 3))};
#endif
}

inline bool anyLane(uint32x4_t mask) {
#if defined(__aarch64__)
    return vmaxvq_u32(mask) != 0;
#else
    const uint32x2_t half = vorr_u32(vget_low_u32(mask), vget_high_u32(mask));
    return (vget_lane_u32(half, 0) | vget_lane_u32(half, 1)) != 0;
#endif
}

// The phase in [0, 2 pi) of four pixels as float; `ambiguous` marks lanes whose rounding
// the pair cannot decide.
inline float32x4_t phaseOf(int32x4_t aInt, int32x4_t bInt, const PhaseOffsetTable& table,
                           uint32x4_t* ambiguous) {
    // Comparisons on the integers: 32-bit NEON float compares are not IEEE-exact, so the
    // compiler would do them one lane at a time.
    const int32x4_t ayInt = vabsq_s32(aInt);
    const int32x4_t axInt = vabsq_s32(bInt);
    const uint32x4_t swapped = vcgtq_s32(ayInt, axInt);
    const uint32x4_t mirrored = vreinterpretq_u32_s32(vshrq_n_s32(bInt, 31));
    const float32x4_t s = vcvtq_f32_s32(vminq_s32(ayInt, axInt));
    // atan2(0, 0) = 0: with l raised to 1 it comes out as atan(0 / 1).
    const float32x4_t l = vcvtq_f32_s32(vmaxq_s32(vmaxq_s32(ayInt, axInt), vdupq_n_s32(1)));

    // Table step: round(64 s / l) from a rough quotient; any nearby k keeps |v| small.
    const float32x4_t quotient = vmulq_f32(s, reciprocal(l));
    const uint32x4_t k = vminq_u32(
        vcvtq_u32_f32(vmlaq_n_f32(vdupq_n_f32(0.5f), quotient, static_cast<float>(kOffsetSteps))),
        vdupq_n_u32(kOffsetSteps));
    const float32x4_t kf = vcvtq_f32_u32(k);
    // Integers below 2^18: every product and sum here is exact.
    const float32x4_t numerator = vmlsq_f32(vmulq_n_f32(s, kOffsetSteps), kf, l);
    const float32x4_t denominator = vmlaq_f32(vmulq_n_f32(l, kOffsetSteps), kf, s);

    // v = vh + vl.
    const float32x4_t inverse = reciprocal(denominator);
    const float32x4_t vh = vmulq_f32(numerator, inverse);
    const float32x4_t remainder = vfmsq_f32(numerator, vh, denominator);  // exact
    const float32x4_t vl = vmulq_f32(remainder, inverse);
    // atan(v) - v, from vh alone.
    const float32x4_t z = vmulq_f32(vh, vh);
    const float32x4_t series = vmlaq_n_f32(vdupq_n_f32(-1.0f / 3.0f), z, 1.0f / 5.0f);
    const float32x4_t tail = vmulq_f32(vmulq_f32(vh, z), series);

    // Offset of the octant kind: table lanes one by one (NEON has no gather).
    const uint32x4_t kind =
        vorrq_u32(vandq_u32(swapped, vdupq_n_u32(2)), vandq_u32(mirrored, vdupq_n_u32(1)));
    const uint32x4_t index = vmlaq_n_u32(k, kind, kOffsetSteps + 1);
    float32x4x2_t offset = {{vdupq_n_f32(0.0f), vdupq_n_f32(0.0f)}};
    offset = vld2q_lane_f32(&table.pairs[2 * vgetq_lane_u32(index, 0)], offset, 0);
    offset = vld2q_lane_f32(&table.pairs[2 * vgetq_lane_u32(index, 1)], offset, 1);
    offset = vld2q_lane_f32(&table.pairs[2 * vgetq_lane_u32(index, 2)], offset, 2);
    offset = vld2q_lane_f32(&table.pairs[2 * vgetq_lane_u32(index, 3)], offset, 3);
    const float32x4_t offsetHi = offset.val[0];
    const float32x4_t offsetLo = offset.val[1];

    // Kinds 1 and 2 subtract atan(s / l): flip the sign of v's pair there.
    const uint32x4_t flip = vshlq_n_u32(veorq_u32(swapped, mirrored), 31);
    const float32x4_t w =
        vreinterpretq_f32_u32(veorq_u32(vreinterpretq_u32_f32(vh), flip));
    const float32x4_t wLow =
        vreinterpretq_f32_u32(veorq_u32(vreinterpretq_u32_f32(vaddq_f32(vl, tail)), flip));

    // offsetHi + w exactly as sum + error: |offsetHi| >= atan(1/64) > |w| unless it is 0.
    const float32x4_t sum = vaddq_f32(offsetHi, w);
    const float32x4_t error = vsubq_f32(w, vsubq_f32(sum, offsetHi));
    const float32x4_t low = vaddq_f32(vaddq_f32(error, wLow), offsetLo);
    const float32x4_t hi = vaddq_f32(sum, low);
    const float32x4_t lo = vsubq_f32(low, vsubq_f32(hi, sum));

    // hi + lo rounds to hi unless |lo| is within the margin of half an ulp of hi. Just
    // above a power of two the lower neighbour is nearer: those lanes are ambiguous too.
    const uint32x4_t bits = vreinterpretq_u32_f32(hi);
    const float32x4_t halfUlp = vreinterpretq_f32_u32(
        vsubq_u32(vandq_u32(bits, vdupq_n_u32(0x7F800000u)), vdupq_n_u32(24u << 23)));
    const float32x4_t limit = vmlsq_n_f32(halfUlp, hi, kPairMarginScale);
    // Positive floats order as their bit patterns; a negative limit (hi = 0) is masked below.
    const uint32x4_t nearMidpoint = vcgtq_s32(vreinterpretq_s32_f32(vabsq_f32(lo)),
                                              vreinterpretq_s32_f32(limit));
    const uint32x4_t powerOfTwo = vceqq_u32(vandq_u32(bits, vdupq_n_u32(0x7FFFFFu)),
                                            vdupq_n_u32(0));
    const uint32x4_t zero = vceqq_u32(bits, vdupq_n_u32(0));  // atan2(0, b >= 0): exact
    *ambiguous = vbicq_u32(vorrq_u32(nearMidpoint, powerOfTwo), zero);

    // atan2 is odd in a; then [0, 2 pi) as the reference does it.
    const uint32x4_t negative = vreinterpretq_u32_s32(vshrq_n_s32(aInt, 31));
    const float32x4_t phaseSigned = vreinterpretq_f32_u32(
        veorq_u32(bits, vandq_u32(negative, vdupq_n_u32(0x80000000u))));
    const float32x4_t wrapped = vaddq_f32(phaseSigned, vdupq_n_f32(kTwoPi));
    return vbslq_f32(negative, wrapped, phaseSigned);
}

inline int16x8_t decode(const uint8_t* bytes, int16x8_t shift) {
    const uint16x8_t samples = vshlq_u16(vld1q_u16(reinterpret_cast<const uint16_t*>(bytes)),
                                         shift);
    const int16x8_t field = vreinterpretq_s16_u16(vandq_u16(samples, vdupq_n_u16(0x7FF)));
    // Sign-extend bit 10.
    return vsubq_s16(veorq_s16(field, vdupq_n_s16(0x400)), vdupq_n_s16(0x400));
}

// Four pixels: depth from the phase, amplitude and confidence from the differences.
inline void finishPixels(int32x4_t a, int32x4_t b, float scale, const PhaseOffsetTable& table,
                         float* depth, float* amplitude, float* confidence) {
    uint32x4_t ambiguous;
    const float32x4_t phase = phaseOf(a, b, table, &ambiguous);
    vst1q_f32(depth, vmulq_n_f32(vmulq_n_f32(phase, scale), 1000.0f));
    const float32x4_t af = vcvtq_f32_s32(a);
    const float32x4_t bf = vcvtq_f32_s32(b);
    // Squares and sum stay below 2^24: exact in float.
    const float32x4_t root =
        vmulq_n_f32(squareRoot(vaddq_f32(vmulq_f32(af, af), vmulq_f32(bf, bf))), 8.0f);
    vst1q_f32(amplitude, root);
    vst1q_f32(confidence, root);
    if (!anyLane(ambiguous)) return;
    int32_t aLanes[4];
    int32_t bLanes[4];
    uint32_t flags[4];
    vst1q_s32(aLanes, a);
    vst1q_s32(bLanes, b);
    vst1q_u32(flags, ambiguous);
    uint64_t recomputed = 0;
    for (int lane = 0; lane < 4; ++lane) {
        if (flags[lane] == 0) continue;
        depth[lane] = pixelFromDifferences(16 * aLanes[lane], 16 * bLanes[lane], scale).depth;
        ++recomputed;
    }
    addExactFallbacks(recomputed);
}

}  // namespace

bool neonPhaseKernelSupported() {
#if defined(__aarch64__)
    return true;
#else
    const unsigned long capabilities = getauxval(AT_HWCAP);
    return (capabilities & HWCAP_NEON) != 0 && (capabilities & HWCAP_VFPv4) != 0;
#endif
}

void phaseImageNeon(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                    float* depth, float* amplitude, float* confidence) {
    static_assert(kPixels % 8 == 0, "the frame is whole vectors of eight samples");
    const PhaseOffsetTable& table = phaseOffsetTable();
    const float scale = depthScale(frequency);
    constexpr size_t kSubframeBytes = 2 * static_cast<size_t>(kPixels);
    const uint8_t* sub[4] = {raw, raw + kSubframeBytes, raw + 2 * kSubframeBytes,
                             raw + 3 * kSubframeBytes};
    // range 2000: y = P1 - P3, x = P2 - P0; otherwise y = P2 - P0, x = P3 - P1.
    const bool shortRange = range == 2000;
    const uint8_t* yPlus = shortRange ? sub[1] : sub[2];
    const uint8_t* yMinus = shortRange ? sub[3] : sub[0];
    const uint8_t* xPlus = shortRange ? sub[2] : sub[3];
    const uint8_t* xMinus = shortRange ? sub[0] : sub[1];
    const int16x8_t shift = vdupq_n_s16(static_cast<int16_t>(-static_cast<int>(rawShift)));
    for (int i = 0; i < kPixels; i += 8) {
        const size_t at = 2 * static_cast<size_t>(i);
        const int16x8_t y = vsubq_s16(decode(yPlus + at, shift), decode(yMinus + at, shift));
        const int16x8_t x = vsubq_s16(decode(xPlus + at, shift), decode(xMinus + at, shift));
        finishPixels(vmovl_s16(vget_low_s16(y)), vmovl_s16(vget_low_s16(x)), scale, table,
                     depth + i, amplitude + i, confidence + i);
        finishPixels(vmovl_s16(vget_high_s16(y)), vmovl_s16(vget_high_s16(x)), scale, table,
                     depth + i + 4, amplitude + i + 4, confidence + i + 4);
    }
}

}  // namespace hqvga
}  // namespace Quarvel

#endif
