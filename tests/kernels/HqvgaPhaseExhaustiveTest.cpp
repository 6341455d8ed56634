// Every (y, x) pair the 240x180 sensor can produce, through every kernel build: bit-identical.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "device/HqvgaKernels.h"
#include "device/HqvgaPhaseKernel.h"

using namespace Quarvel;

namespace {

constexpr int kLimit = 2047;                  // sample differences lie in -2047..2047
constexpr int kSpan = 2 * kLimit + 1;         // 4095 values each
constexpr long kPairs = long(kSpan) * kSpan;  // 16,769,025

// A raw frame whose pixels carry consecutive (a, b) difference pairs, each encoded with
// randomly chosen samples, random bits outside the 11-bit field and the given shift.
class PairFrames {
public:
    PairFrames(int range, unsigned rawShift, uint32_t seed)
        : range(range), rawShift(rawShift), rng(seed), raw(hqvga::kRawBytes) {}

    // Fills the next frame; false when every pair has been handed out. A last, partial frame
    // repeats its final pair.
    bool next() {
        if (nextPair >= kPairs) return false;
        for (int pixel = 0; pixel < hqvga::kPixels; ++pixel) {
            const long pair = nextPair < kPairs ? nextPair : kPairs - 1;
            ++nextPair;
            encode(pixel, static_cast<int>(pair / kSpan) - kLimit,
                   static_cast<int>(pair % kSpan) - kLimit);
        }
        return true;
    }

    const uint8_t* data() const { return raw.data(); }

private:
    // y = a and x = b under the pairing the range selects.
    void encode(int pixel, int a, int b) {
        int p[4];
        if (range == 2000) {  // y = P1 - P3, x = P2 - P0
            p[3] = partner(a);
            p[1] = p[3] + a;
            p[0] = partner(b);
            p[2] = p[0] + b;
        } else {  // y = P2 - P0, x = P3 - P1
            p[0] = partner(a);
            p[2] = p[0] + a;
            p[1] = partner(b);
            p[3] = p[1] + b;
        }
        for (int sub = 0; sub < 4; ++sub) {
            const uint16_t field = static_cast<uint16_t>(p[sub] & 0x7FF);
            const uint16_t noise = static_cast<uint16_t>(rng());
            const uint16_t sample = rawShift == 0
                                        ? static_cast<uint16_t>(field | (noise & 0xF800))
                                        : static_cast<uint16_t>((field << 4) | (noise & 0x800F));
            const size_t at = 2 * (static_cast<size_t>(sub) * hqvga::kPixels + pixel);
            raw[at] = static_cast<uint8_t>(sample & 0xFF);
            raw[at + 1] = static_cast<uint8_t>(sample >> 8);
        }
    }

    // A random sample value q such that q + difference is a valid sample too.
    int partner(int difference) {
        const int low = std::max(-1024, -1024 - difference);
        const int high = std::min(1023, 1023 - difference);
        return low + static_cast<int>(rng() % static_cast<uint32_t>(high - low + 1));
    }

    int range;
    unsigned rawShift;
    std::mt19937 rng;
    std::vector<uint8_t> raw;
    long nextPair = 0;
};

struct Planes {
    std::vector<float> depth = std::vector<float>(hqvga::kPixels);
    std::vector<float> amplitude = std::vector<float>(hqvga::kPixels);
    std::vector<float> confidence = std::vector<float>(hqvga::kPixels);
};

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// First differing pixel, for the failure message.
int firstDifference(const Planes& expected, const Planes& actual) {
    for (int i = 0; i < hqvga::kPixels; ++i) {
        if (std::memcmp(&expected.depth[i], &actual.depth[i], 4) != 0 ||
            std::memcmp(&expected.amplitude[i], &actual.amplitude[i], 4) != 0 ||
            std::memcmp(&expected.confidence[i], &actual.confidence[i], 4) != 0) {
            return i;
        }
    }
    return -1;
}

void expectEveryPairIdentical(int range, float frequency) {
    size_t variantCount = 0;
    const hqvga::PhaseKernelVariant* variants = hqvga::phaseKernelVariants(&variantCount);
    const uint64_t fallbackBefore = hqvga::exactFallbackCount();
    std::vector<uint64_t> fallbacks(variantCount, 0);
    std::vector<uint64_t> pixels(variantCount, 0);
    int tested = 0;
    for (unsigned rawShift : {0u, 4u}) {
        PairFrames frames(range, rawShift, 1234u + rawShift + static_cast<unsigned>(range));
        int frame = 0;
        Planes expected;
        Planes actual;
        while (frames.next()) {
            hqvga::phaseImageReference(frames.data(), rawShift, range, frequency,
                                       expected.depth.data(), expected.amplitude.data(),
                                       expected.confidence.data());
            for (size_t v = 0; v < variantCount; ++v) {
                if (!variants[v].supported()) continue;
                std::fill(actual.depth.begin(), actual.depth.end(), -1.0f);
                const uint64_t before = hqvga::exactFallbackCount();
                variants[v].run(frames.data(), rawShift, range, frequency, actual.depth.data(),
                                actual.amplitude.data(), actual.confidence.data());
                fallbacks[v] += hqvga::exactFallbackCount() - before;
                pixels[v] += hqvga::kPixels;
                const bool same = sameBits(expected.depth, actual.depth) &&
                                  sameBits(expected.amplitude, actual.amplitude) &&
                                  sameBits(expected.confidence, actual.confidence);
                if (!same) {
                    const int at = firstDifference(expected, actual);
                    FAIL() << variants[v].name << " range " << range << " shift " << rawShift
                           << " frame " << frame << " pixel " << at << ": depth "
                           << expected.depth[at] << " vs " << actual.depth[at] << ", amplitude "
                           << expected.amplitude[at] << " vs " << actual.amplitude[at];
                }
                ++tested;
            }
            ++frame;
        }
        EXPECT_EQ(static_cast<long>(frame), (kPairs + hqvga::kPixels - 1) / hqvga::kPixels);
    }
    EXPECT_GT(tested, 0);
    // The exact path is for the few pixels near a rounding boundary; a reduction that lost
    // precision would still give identical planes, only slowly: bound the share.
    for (size_t v = 0; v < variantCount; ++v) {
        if (pixels[v] == 0) continue;
        const double share = static_cast<double>(fallbacks[v]) / static_cast<double>(pixels[v]);
        std::printf("%s: exact path for %.4f %% of all pairs\n", variants[v].name, 100 * share);
        EXPECT_LT(share, 0.01) << variants[v].name;
    }
    // The exact path near rounding boundaries was taken, so both paths were proven.
    EXPECT_GT(hqvga::exactFallbackCount(), fallbackBefore);
}

}  // namespace

TEST(HqvgaPhaseExhaustive, EveryPairMatchesTheReferenceAtFarRange) {
    expectEveryPairIdentical(4000, hqvga::kFrequency4m);
}

TEST(HqvgaPhaseExhaustive, EveryPairMatchesTheReferenceAtNearRange) {
    expectEveryPairIdentical(2000, hqvga::kFrequency2m);
}

TEST(HqvgaPhaseExhaustive, EstimateStaysInsideItsErrorBoundForEveryPair) {
    if (LDBL_MANT_DIG < 64) GTEST_SKIP() << "long double is no wider than double here";
    // x87's 80-bit long double is hardware; 64-bit ARM's 128-bit one is software, some
    // hundred times slower (and slower again under emulation): there each difference takes
    // every 7th value plus the 16 nearest zero and each end, about 400,000 pairs over the
    // whole domain. The estimate is plain IEEE double arithmetic, so the full sweep on x86-64
    // covers the same bits.
    constexpr bool everyValue = LDBL_MANT_DIG == 64;
    const auto taken = [](int v) {
        return everyValue || v % 7 == 0 || std::abs(v) <= 16 || std::abs(v) >= kLimit - 16;
    };
    long double worst[2] = {0.0L, 0.0L};
    for (int a = -kLimit; a <= kLimit; ++a) {
        if (!taken(a)) continue;
        for (int b = -kLimit; b <= kLimit; ++b) {
            if (!taken(b)) continue;
            const long double exact = atan2l(static_cast<long double>(a), b);
            for (int fused = 0; fused < 2; ++fused) {
                const double estimate = hqvga::phaseEstimate(a, b, fused != 0);
                if (exact == 0.0L) {
                    ASSERT_EQ(estimate, 0.0) << a << ", " << b;
                    continue;
                }
                const long double error = fabsl((estimate - exact) / exact);
                if (error > worst[fused]) worst[fused] = error;
            }
        }
    }
    EXPECT_LT(worst[0], hqvga::kPhaseEstimateErrorBound) << static_cast<double>(worst[0]);
    EXPECT_LT(worst[1], hqvga::kPhaseEstimateErrorBound) << static_cast<double>(worst[1]);
    // The bound is not loose by orders of magnitude: it says what the polynomial achieves.
    EXPECT_GT(worst[0], hqvga::kPhaseEstimateErrorBound / 64) << static_cast<double>(worst[0]);
}
