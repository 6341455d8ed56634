// Vectorisable phase-to-depth kernel, built once per instruction set, chosen at run time.
//
// Why it is exact: the reference rounds a double atan2 to float. Here atan2 comes from a
// branch-free polynomial whose relative error is below 2^-47, far inside a margin of 2^-36.
// When the whole margin interval around our value rounds to one float, the true atan2 and
// libm's (within an ulp of double of it) round to that same float. Pixels whose interval
// straddles a rounding boundary (about 1 in 2000) are recomputed with libm's atan2.
// The amplitude needs no such care: x and y are 16 times integers whose squares sum below
// 2^24, so 0.5 * sqrt(x*x + y*y) rounded to float equals 8 * sqrtf(a*a + b*b) exactly
// (double has more than 2 * 24 + 2 bits, so rounding sqrt twice is harmless).
#include "device/HqvgaPhaseKernel.h"

#include <cmath>
#include <cstring>

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

constexpr double kTanPiOver8 = 0.41421356237309504880;
constexpr double kPiOver4 = 0.78539816339744830962;
constexpr double kPiOver2 = 1.57079632679489661923;
constexpr double kPi = 3.14159265358979323846;

// atan(u) = u + u * z * P(z), z = u * u, |u| <= tan(pi/8): Chebyshev fit, error < 2^-47.
constexpr double kAtan[9] = {-0.3333333333333093,  0.19999999997724888,  -0.14285713930378563,
                             0.11111089649210824,  -0.09090255952684906, 0.07681045202665782,
                             -0.06550907306992501, 0.05168834933732674,  -0.027232884026670047};

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

// a * b + c: one fused rounding where the instruction set has it (more accurate, and the
// margin absorbs either), two roundings elsewhere, where a library fma would be slow.
template <bool kFused>
QUARVEL_ALWAYS_INLINE double multiplyAdd(double a, double b, double c) {
    if (kFused) return std::fma(a, b, c);
    return a * b + c;
}

// atan2(a, b) in double for integers |a|, |b| <= 2047 (see kPhaseEstimateErrorBound).
template <bool kFused>
QUARVEL_ALWAYS_INLINE double atan2Fast(double a, double b) {
    const double ay = std::fabs(a);
    const double ax = std::fabs(b);
    const double small = ay < ax ? ay : ax;
    const double large = ay < ax ? ax : ay;
    // Past tan(pi/8), atan(t) = pi/4 + atan((t - 1) / (t + 1)); the integers keep the
    // numerator and denominator exact, so either way it costs one division.
    const bool upper = small > kTanPiOver8 * large;
    const double numerator = upper ? small - large : small;
    const double denominator = upper ? small + large : large;
    // Integers: a zero denominator means atan2(0, 0), whose numerator is 0 too.
    const double u = numerator / (denominator < 1.0 ? 1.0 : denominator);
    const double z = u * u;
    double p = kAtan[8];
    p = multiplyAdd<kFused>(p, z, kAtan[7]);
    p = multiplyAdd<kFused>(p, z, kAtan[6]);
    p = multiplyAdd<kFused>(p, z, kAtan[5]);
    p = multiplyAdd<kFused>(p, z, kAtan[4]);
    p = multiplyAdd<kFused>(p, z, kAtan[3]);
    p = multiplyAdd<kFused>(p, z, kAtan[2]);
    p = multiplyAdd<kFused>(p, z, kAtan[1]);
    p = multiplyAdd<kFused>(p, z, kAtan[0]);
    const double atanU = multiplyAdd<kFused>(u, z * p, u);
    // Octant and quadrant: theta = quadrant offset +/- (pi/4 or 0) +/- atan(u).
    const bool swapped = ay > ax;  // angle measured from the y axis
    const bool mirrored = b < 0.0;
    const double base = upper ? kPiOver4 : 0.0;
    const double quadrant = swapped ? kPiOver2 : (mirrored ? kPi : 0.0);
    const bool subtract = swapped != mirrored;
    const double offset = subtract ? quadrant - base : quadrant + base;
    const double theta = subtract ? offset - atanU : offset + atanU;
    return a < 0.0 ? -theta : theta;
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
                                      int32_t* __restrict inexact) {
    // Decode first: the arithmetic below then runs on 32-bit lanes, half as many registers
    // per value as with the 16-bit samples setting the vector length.
    int32_t yDifference[kChunk];
    int32_t xDifference[kChunk];
    for (int i = 0; i < kChunk; ++i) {
        yDifference[i] = decode(loadSample(yPlus + 2 * i), rawShift) -
                         decode(loadSample(yMinus + 2 * i), rawShift);
        xDifference[i] = decode(loadSample(xPlus + 2 * i), rawShift) -
                         decode(loadSample(xMinus + 2 * i), rawShift);
    }
    int any = 0;
    for (int i = 0; i < kChunk; ++i) {
        const int32_t a = yDifference[i];
        const int32_t b = xDifference[i];
        const double theta = atan2Fast<kFused>(static_cast<double>(a), static_cast<double>(b));
        const double margin = std::fabs(theta) * kExactPathMargin;
        // Where both ends of the interval round alike, that float is the phase.
        const float phaseSigned = static_cast<float>(theta - margin);
        const int uncertain = phaseSigned != static_cast<float>(theta + margin);
        const float phase = phaseSigned < 0.0f ? phaseSigned + kTwoPi : phaseSigned;
        depth[i] = (scale * phase) * 1000.0f;
        // Squares and sum stay below 2^24: exact in float, and cheaper than integer products.
        const float af = static_cast<float>(a);
        const float bf = static_cast<float>(b);
        const float root = 8.0f * std::sqrt(af * af + bf * bf);
        amplitude[i] = root;
        confidence[i] = root;
        inexact[i] = uncertain;
        any |= uncertain;
    }
    return any != 0;
}

// Pixels near a rounding boundary: the reference formula itself.
void exactPixels(const ChunkPlanes& in, unsigned rawShift, float scale, const int32_t* inexact) {
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
    int32_t inexact[kChunk];
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
    const double y = static_cast<double>(a);
    const double x = static_cast<double>(b);
    return fused ? atan2Fast<true>(y, x) : atan2Fast<false>(y, x);
}

}  // namespace hqvga
}  // namespace Quarvel
