// Vectorisable phase-to-depth kernel, built once per instruction set, chosen at run time.
//
// Why it is exact: the reference rounds a double atan2 to float. Here atan2 comes from an
// octant reduction on integers and a branch-free polynomial whose relative error is below
// 2^-39, well inside a margin of 2^-36. When the whole margin interval around our value
// rounds to one float, the true atan2 and libm's (within an ulp of double of it) round to
// that same float. Pixels whose interval holds a midpoint between two floats (about 1 in
// 4000) are recomputed with libm's atan2.
// The amplitude needs no such care: x and y are 16 times integers whose squares sum below
// 2^24, so 0.5 * sqrt(x*x + y*y) rounded to float equals 8 * sqrtf(a*a + b*b) exactly
// (double has more than 2 * 24 + 2 bits, so rounding sqrt twice is harmless).
#include "device/HqvgaPhaseKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/CpuLevelOverride.h"
#include "core/X86CpuFeatures.h"
#include "device/HqvgaKernels.h"
#include "device/HqvgaPhasePairKernels.h"

#if defined(__GNUC__)
#define QUARVEL_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define QUARVEL_ALWAYS_INLINE inline
#endif

// Instruction-set builds exist only where GCC/Clang can target them per function.
#if defined(__x86_64__) && defined(__GNUC__)
#define QUARVEL_X86_VARIANTS 1
#endif

namespace Quarvel {
namespace hqvga {

namespace {

// Pixels per pass: a multiple of 64 (whole vectors of 16-bit samples at every width, so no
// scalar tail) that divides the 43200 pixels of a frame.
constexpr int kChunk = 192;
static_assert(kPixels % kChunk == 0, "chunks must tile the frame");
static_assert(kChunk % 64 == 0, "chunks must be whole vectors");

constexpr double kPiOver4 = 0.78539816339744830962;

// atan(u) = u + u * z * P(z), z = u * u, |u| <= 5/12: minimax fit of the relative error,
// below 2^-40.
constexpr double kAtan[7] = {-0.3333333329276432, 0.19999993950343561,  -0.14285407932694713,
                             0.1110370598411566,  -0.08994004852215677, 0.06978036623598084,
                             -0.03768616778629201};

thread_local uint64_t fallbackPixels = 0;

QUARVEL_ALWAYS_INLINE uint16_t loadSample(const uint8_t* bytes) {
    // Little-endian sensor words on little-endian hosts: a plain load.
    uint16_t value;
    std::memcpy(&value, bytes, sizeof value);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    value = static_cast<uint16_t>((value >> 8) | (value << 8));
#endif
    return value;
}

QUARVEL_ALWAYS_INLINE int32_t decode(uint16_t sample, unsigned rawShift) {
    const int32_t field = (sample >> rawShift) & 0x7FF;
    return (field ^ 0x400) - 0x400;  // sign-extend bit 10 without a branch
}

// The same on 16 bits for a fixed shift: the field's top bit moved to bit 15, then shifted
// back arithmetically. A constant shift keeps the compiler on 16-bit lanes.
template <unsigned kShift>
QUARVEL_ALWAYS_INLINE int16_t decode16(uint16_t sample) {
    static_assert(kShift <= 5, "the 11-bit field must fit below bit 16");
    const int16_t top = static_cast<int16_t>(static_cast<uint16_t>(sample << (5 - kShift)));
    return static_cast<int16_t>(top >> 5);
}

// y and x of a chunk's pixels, each the difference of two decoded sub-frame samples.
template <unsigned kShift>
QUARVEL_ALWAYS_INLINE void decodeDifferences(const uint8_t* __restrict yPlus,
                                             const uint8_t* __restrict yMinus,
                                             const uint8_t* __restrict xPlus,
                                             const uint8_t* __restrict xMinus,
                                             int16_t* __restrict y, int16_t* __restrict x,
                                             int count) {
    for (int i = 0; i < count; ++i) {
        y[i] = static_cast<int16_t>(decode16<kShift>(loadSample(yPlus + 2 * i)) -
                                    decode16<kShift>(loadSample(yMinus + 2 * i)));
        x[i] = static_cast<int16_t>(decode16<kShift>(loadSample(xPlus + 2 * i)) -
                                    decode16<kShift>(loadSample(xMinus + 2 * i)));
    }
}

// a * b + c: one fused rounding where the instruction set has it (more accurate, and the
// margin absorbs either), two roundings elsewhere, where a library fma would be slow.
// Also used where both are exact.
template <bool kFused, typename Real>
QUARVEL_ALWAYS_INLINE Real multiplyAdd(Real a, Real b, Real c) {
    if (kFused) return std::fma(a, b, c);
    return a * b + c;
}

// atan2(a, b) = eighths * pi/4 + atan(ratio) for integers |a|, |b| <= 2047, in two steps
// that the kernel runs as separate loops (see phaseChunk). The first, the octant reduction,
// works on 16-bit integers, where a vector holds four times as many lanes as in double;
// numerator and denominator of the ratio are integers, exact in double. Conditions are
// masks (0 or -1) from sign bits, combined arithmetically: written as selects, they compile
// to a blend each.
struct ReducedAngle {
    int16_t numerator;    // |numerator / denominator| <= 5/12, the polynomial's interval
    int16_t denominator;  // >= 1
    int16_t eighths;      // -5..5
};

QUARVEL_ALWAYS_INLINE ReducedAngle reduceAngle(int16_t a, int16_t b) {
    using I = int16_t;
    const I ay = static_cast<I>(a < 0 ? -a : a);
    const I ax = static_cast<I>(b < 0 ? -b : b);
    const I small = ay < ax ? ay : ax;
    const I large = ay < ax ? ax : ay;
    // (Differences are narrowed before shifting, so that the compiler keeps 16-bit lanes.)
    const I swapped = static_cast<I>(static_cast<I>(ax - ay) >> 15);  // measured from the y axis
    const I mirrored = static_cast<I>(b >> 15);
    const I negative = static_cast<I>(a >> 15);
    const I subtract = static_cast<I>(swapped ^ mirrored);
    // Past about tan(pi/8), atan(t) = pi/4 + atan((t - 1) / (t + 1)): one division either
    // way. The switch at t = 5/12 keeps |u| <= 5/12.
    const I upper = static_cast<I>(static_cast<I>(large * 5 - small * 12) >> 15);
    I numerator = static_cast<I>(small - (large & upper));
    I denominator = static_cast<I>(large + (small & upper));
    // A zero denominator means atan2(0, 0), whose numerator is 0 too.
    denominator = std::max(denominator, I{1});
    // theta = quadrant +/- (pi/4 if upper) +/- atan(u), negated for a < 0; in eighths of a
    // turn the offset is an integer.
    const I mirroredQuadrant = static_cast<I>(mirrored & 4);
    const I quadrant = static_cast<I>(mirroredQuadrant ^ ((mirroredQuadrant ^ 2) & swapped));
    const I base = static_cast<I>(((upper & 1) ^ subtract) - subtract);
    const I eighths = static_cast<I>(((quadrant + base) ^ negative) - negative);
    // atan is odd: the sign of its term goes onto the numerator.
    const I flip = static_cast<I>(negative ^ subtract);
    numerator = static_cast<I>((numerator ^ flip) - flip);
    return {numerator, denominator, eighths};
}

// The second step: the polynomial and the octant's offset.
template <bool kFused>
QUARVEL_ALWAYS_INLINE double angleOf(double u, double eighths) {
    const double z = u * u;
    double p = kAtan[6];
    p = multiplyAdd<kFused>(p, z, kAtan[5]);
    p = multiplyAdd<kFused>(p, z, kAtan[4]);
    p = multiplyAdd<kFused>(p, z, kAtan[3]);
    p = multiplyAdd<kFused>(p, z, kAtan[2]);
    p = multiplyAdd<kFused>(p, z, kAtan[1]);
    p = multiplyAdd<kFused>(p, z, kAtan[0]);
    const double atanU = multiplyAdd<kFused>(u, z * p, u);
    return multiplyAdd<kFused>(eighths, kPiOver4, atanU);
}

// True when theta lies within the margin of a midpoint between two floats, where rounding
// it cannot tell which float the true angle rounds to. Elsewhere the whole interval
// theta (1 +/- margin) rounds to one float. The test reads the 29 bits a float drops from a
// double: a midpoint is 1 followed by 28 zeros, and 2^16 units of those bits are at least
// half the margin of any value in their binade. Integer operations on the bits: cheaper than
// rounding both ends of the interval.
// The dropped bits all lie in the double's low 32-bit word: 32-bit machines test that word
// alone, 64-bit ones the whole (no extraction needed).
#if UINTPTR_MAX > 0xFFFFFFFFu
using MidpointWord = uint64_t;
#else
using MidpointWord = uint32_t;
#endif
using MidpointFlag = std::make_signed_t<MidpointWord>;  // 0, or -1 where undecided

QUARVEL_ALWAYS_INLINE MidpointFlag nearFloatMidpoint(double theta) {
    constexpr MidpointWord kDropped = (MidpointWord{1} << 29) - 1;
    constexpr MidpointWord kMidpoint = MidpointWord{1} << 28;
    constexpr MidpointWord kWindow = MidpointWord{1} << 16;
    static_assert(static_cast<double>(kWindow) / (uint64_t{1} << 52) >= kExactPathMargin / 2,
                  "the window must cover half the margin at the top of a binade");
    uint64_t bits;
    std::memcpy(&bits, &theta, sizeof bits);
    const MidpointWord low = static_cast<MidpointWord>(bits);
    return -static_cast<MidpointFlag>(((low + kWindow - kMidpoint) & kDropped) < 2 * kWindow);
}

struct ChunkPlanes {
    const uint8_t* yPlus;  // byte pointers to the sub-frames forming y = yPlus - yMinus
    const uint8_t* yMinus;
    const uint8_t* xPlus;
    const uint8_t* xMinus;
    float* depth;
    float* amplitude;
    float* confidence;
};

// One chunk. Returns true when some pixel needs the exact path; `inexact` marks them.
// Every pointer is a parameter so that the compiler sees they do not overlap.
template <bool kFused>
QUARVEL_ALWAYS_INLINE bool phaseChunk(const uint8_t* __restrict yPlus,
                                      const uint8_t* __restrict yMinus,
                                      const uint8_t* __restrict xPlus,
                                      const uint8_t* __restrict xMinus, unsigned rawShift,
                                      float scale, float* __restrict depth,
                                      float* __restrict amplitude, float* __restrict confidence,
                                      MidpointFlag* __restrict inexact) {
    // Decode first, on 16-bit lanes: the octant logic below runs on them too.
    int16_t yDifference[kChunk];
    int16_t xDifference[kChunk];
    if (rawShift == 0) {
        decodeDifferences<0>(yPlus, yMinus, xPlus, xMinus, yDifference, xDifference, kChunk);
    } else {
        decodeDifferences<4>(yPlus, yMinus, xPlus, xMinus, yDifference, xDifference, kChunk);
    }
    // One short loop per step rather than one long loop: division and polynomial are long
    // chains of dependent operations, and in a short loop the processor overlaps the chains
    // of many pixels (measured: a third less time than one loop doing it all).
    int16_t numerator[kChunk];
    int16_t denominator[kChunk];
    int16_t eighthsInteger[kChunk];
    for (int i = 0; i < kChunk; ++i) {
        const ReducedAngle reduced = reduceAngle(yDifference[i], xDifference[i]);
        numerator[i] = reduced.numerator;
        denominator[i] = reduced.denominator;
        eighthsInteger[i] = reduced.eighths;
    }
    double ratio[kChunk];
    double eighths[kChunk];
    for (int i = 0; i < kChunk; ++i) {
        ratio[i] = static_cast<double>(numerator[i]) / static_cast<double>(denominator[i]);
        eighths[i] = eighthsInteger[i];
    }
    double theta[kChunk];
    for (int i = 0; i < kChunk; ++i) theta[i] = angleOf<kFused>(ratio[i], eighths[i]);
    MidpointFlag any = 0;
    for (int i = 0; i < kChunk; ++i) {
        const float phaseSigned = static_cast<float>(theta[i]);
        const MidpointFlag uncertain = nearFloatMidpoint(theta[i]);
        const float phase = phaseSigned < 0.0f ? phaseSigned + kTwoPi : phaseSigned;
        depth[i] = (scale * phase) * 1000.0f;
        inexact[i] = uncertain;
        any |= uncertain;
    }
    for (int i = 0; i < kChunk; ++i) {
        // Squares and sum stay below 2^24: exact in float (fused or not), and cheaper than
        // integer products.
        const float af = static_cast<float>(yDifference[i]);
        const float bf = static_cast<float>(xDifference[i]);
        const float root = 8.0f * std::sqrt(multiplyAdd<kFused>(af, af, bf * bf));
        amplitude[i] = root;
        confidence[i] = root;
    }
    return any != 0;
}

// Pixels near a rounding boundary: the reference formula itself.
void exactPixels(const ChunkPlanes& in, unsigned rawShift, float scale,
                 const MidpointFlag* inexact) {
    for (int i = 0; i < kChunk; ++i) {
        if (!inexact[i]) continue;
        const int a = decode(loadSample(in.yPlus + 2 * i), rawShift) -
                      decode(loadSample(in.yMinus + 2 * i), rawShift);
        const int b = decode(loadSample(in.xPlus + 2 * i), rawShift) -
                      decode(loadSample(in.xMinus + 2 * i), rawShift);
        const PixelResult pixel = pixelFromDifferences(16 * a, 16 * b, scale);
        in.depth[i] = pixel.depth;
        in.amplitude[i] = pixel.amplitude;
        in.confidence[i] = pixel.amplitude;
        ++fallbackPixels;
    }
}

template <bool kFused>
QUARVEL_ALWAYS_INLINE void phaseFrame(const uint8_t* raw, unsigned rawShift, int range,
                                      float frequency, float* depth, float* amplitude,
                                      float* confidence) {
    // Sensors deliver the 11-bit field at bit 0 or, MSB-aligned, at bit 4.
    if (rawShift != 0 && rawShift != 4) {
        phaseImageReference(raw, rawShift, range, frequency, depth, amplitude, confidence);
        return;
    }
    const float scale = depthScale(frequency);
    constexpr size_t kSubframeBytes = 2 * static_cast<size_t>(kPixels);
    const uint8_t* sub[4] = {raw, raw + kSubframeBytes, raw + 2 * kSubframeBytes,
                             raw + 3 * kSubframeBytes};
    // range 2000: y = P1 - P3, x = P2 - P0; otherwise y = P2 - P0, x = P3 - P1.
    const bool shortRange = range == 2000;
    ChunkPlanes planes{shortRange ? sub[1] : sub[2],
                       shortRange ? sub[3] : sub[0],
                       shortRange ? sub[2] : sub[3],
                       shortRange ? sub[0] : sub[1],
                       depth,
                       amplitude,
                       confidence};
    MidpointFlag inexact[kChunk];
    for (int start = 0; start < kPixels; start += kChunk) {
        if (phaseChunk<kFused>(planes.yPlus, planes.yMinus, planes.xPlus, planes.xMinus, rawShift,
                               scale, planes.depth, planes.amplitude, planes.confidence, inexact)) {
            exactPixels(planes, rawShift, scale, inexact);
        }
        planes.yPlus += 2 * kChunk;
        planes.yMinus += 2 * kChunk;
        planes.xPlus += 2 * kChunk;
        planes.xMinus += 2 * kChunk;
        planes.depth += kChunk;
        planes.amplitude += kChunk;
        planes.confidence += kChunk;
    }
}

bool alwaysSupported() { return true; }

// 64-bit ARM always has fused multiply-add; 32-bit ARM and plain x86-64 may not.
#if defined(__aarch64__) || defined(__FMA__)
constexpr bool kBaselineFused = true;
#else
constexpr bool kBaselineFused = false;
#endif

void phaseImageBaseline(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                        float* depth, float* amplitude, float* confidence) {
    phaseFrame<kBaselineFused>(raw, rawShift, range, frequency, depth, amplitude, confidence);
}

#if QUARVEL_X86_VARIANTS
#if defined(__clang__)
// clang takes the vector width from the level itself and refuses the GCC option.
#define QUARVEL_X86_V4_TARGET "arch=x86-64-v4"
#else
#define QUARVEL_X86_V4_TARGET "arch=x86-64-v4,prefer-vector-width=512"
#endif
__attribute__((target(QUARVEL_X86_V4_TARGET))) void phaseImageX86V4(const uint8_t* raw,
                                                                    unsigned rawShift, int range,
                                                                    float frequency, float* depth,
                                                                    float* amplitude,
                                                                    float* confidence) {
    phaseFrame<true>(raw, rawShift, range, frequency, depth, amplitude, confidence);
}

__attribute__((target("arch=x86-64-v3"))) void phaseImageX86V3(const uint8_t* raw,
                                                               unsigned rawShift, int range,
                                                               float frequency, float* depth,
                                                               float* amplitude,
                                                               float* confidence) {
    phaseFrame<true>(raw, rawShift, range, frequency, depth, amplitude, confidence);
}

__attribute__((target("arch=x86-64-v2"))) void phaseImageX86V2(const uint8_t* raw,
                                                               unsigned rawShift, int range,
                                                               float frequency, float* depth,
                                                               float* amplitude,
                                                               float* confidence) {
    phaseFrame<false>(raw, rawShift, range, frequency, depth, amplitude, confidence);
}
#endif

const PhaseKernelVariant kVariants[] = {
#if QUARVEL_X86_VARIANTS
    {"x86-64-v4", x86SupportsLevel4, phaseImageX86V4},
    {"x86-64-v3", x86SupportsLevel3, phaseImageX86V3},
    {"x86-64-v2", x86SupportsLevel2, phaseImageX86V2},
#endif

#if QUARVEL_NEON_PHASE_KERNEL
    {"neon", neonPhaseKernelSupported, phaseImageNeon},
#endif
    {"baseline", alwaysSupported, phaseImageBaseline},
};

}  // namespace

const PhaseKernelVariant* phaseKernelVariants(size_t* count) {
    if (count) *count = sizeof kVariants / sizeof kVariants[0];
    return kVariants;
}

const PhaseKernelVariant& selectedPhaseKernel() {
    static const PhaseKernelVariant& chosen = []() -> const PhaseKernelVariant& {
        for (const PhaseKernelVariant& variant : kVariants) {
            if (variant.supported() && cpuLevelAllowed(variant.name)) return variant;
        }
        return kVariants[sizeof kVariants / sizeof kVariants[0] - 1];
    }();
    return chosen;
}

void phaseImage(const uint8_t* raw, unsigned rawShift, int range, float frequency, float* depth,
                float* amplitude, float* confidence) {
    selectedPhaseKernel().run(raw, rawShift, range, frequency, depth, amplitude, confidence);
}

uint64_t exactFallbackCount() { return fallbackPixels; }

void addExactFallbacks(uint64_t pixels) { fallbackPixels += pixels; }

double phaseEstimate(int a, int b, bool fused) {
    const int16_t y = static_cast<int16_t>(a);
    const int16_t x = static_cast<int16_t>(b);
    const ReducedAngle reduced = reduceAngle(y, x);
    const double ratio = static_cast<double>(reduced.numerator) / reduced.denominator;
    return fused ? angleOf<true>(ratio, reduced.eighths) : angleOf<false>(ratio, reduced.eighths);
}

}  // namespace hqvga
}  // namespace Quarvel
