// The vectorised 240x180 kernels against their plain definitions, and the run-time choice.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "device/HqvgaKernels.h"
#include "device/HqvgaPhaseKernel.h"

using namespace Quarvel;

namespace {

// Random 16-bit samples: every bit pattern, including bits outside the 11-bit field.
std::vector<uint8_t> noiseFrame(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> raw(hqvga::kRawBytes);
    for (auto& byte : raw) byte = static_cast<uint8_t>(rng());
    return raw;
}

}  // namespace

TEST(HqvgaFastRaw, InterleaveMatchesTheDefinitionForBothShifts) {
    for (unsigned shift : {0u, 4u}) {
        const auto raw = noiseFrame(7 + shift);
        std::vector<int16_t> expected(hqvga::kRawSamples, 0x5555);
        std::vector<int16_t> actual(hqvga::kRawSamples, 0x2222);
        hqvga::rawInterleaveReference(raw.data(), shift, expected.data());
        hqvga::rawInterleave(raw.data(), shift, actual.data());
        ASSERT_EQ(expected, actual) << "shift " << shift;
    }
}

TEST(HqvgaFastPhase, EverySupportedBuildMatchesTheDefinitionOnNoise) {
    size_t count = 0;
    const hqvga::PhaseKernelVariant* variants = hqvga::phaseKernelVariants(&count);
    ASSERT_GE(count, 1u);
    for (int range : {2000, 3000, 4000}) {
        const float frequency = range == 2000 ? hqvga::kFrequency2m : hqvga::kFrequency4m;
        for (unsigned shift : {0u, 4u}) {
            const auto raw = noiseFrame(static_cast<uint32_t>(range) + shift);
            std::vector<float> depth(hqvga::kPixels), amplitude(hqvga::kPixels),
                confidence(hqvga::kPixels);
            hqvga::phaseImageReference(raw.data(), shift, range, frequency, depth.data(),
                                       amplitude.data(), confidence.data());
            for (size_t v = 0; v < count; ++v) {
                if (!variants[v].supported()) continue;
                std::vector<float> fastDepth(hqvga::kPixels, -1.0f),
                    fastAmplitude(hqvga::kPixels, -1.0f), fastConfidence(hqvga::kPixels, -1.0f);
                variants[v].run(raw.data(), shift, range, frequency, fastDepth.data(),
                                fastAmplitude.data(), fastConfidence.data());
                const std::string where = std::string(variants[v].name) + " range " +
                                          std::to_string(range) + " shift " + std::to_string(shift);
                EXPECT_EQ(std::memcmp(depth.data(), fastDepth.data(), 4 * depth.size()), 0)
                    << where;
                EXPECT_EQ(std::memcmp(amplitude.data(), fastAmplitude.data(), 4 * depth.size()), 0)
                    << where;
                EXPECT_EQ(std::memcmp(confidence.data(), fastConfidence.data(), 4 * depth.size()),
                          0)
                    << where;
            }
        }
    }
}

TEST(HqvgaFastPhase, TheBestSupportedBuildIsChosenAndTheLastRunsAnywhere) {
    size_t count = 0;
    const hqvga::PhaseKernelVariant* variants = hqvga::phaseKernelVariants(&count);
    ASSERT_GE(count, 1u);
    EXPECT_TRUE(variants[count - 1].supported());
    const hqvga::PhaseKernelVariant* firstSupported = nullptr;
    for (size_t v = 0; v < count && !firstSupported; ++v) {
        if (variants[v].supported()) firstSupported = &variants[v];
    }
    EXPECT_EQ(&hqvga::selectedPhaseKernel(), firstSupported);
}

TEST(HqvgaFastPhase, PixelsNearARoundingBoundaryTakeTheExactPath) {
    // A frame of every pair is proven in the exhaustive suite; here one boundary pixel is
    // enough to show that the fallback runs and agrees. Find one by the estimate itself.
    int boundaryA = 0, boundaryB = 0;
    bool found = false;
    for (int a = 1; a <= 2047 && !found; ++a) {
        for (int b = -2047; b <= 2047 && !found; ++b) {
            const double theta = hqvga::phaseEstimate(a, b, false);
            const double margin = theta * hqvga::kExactPathMargin;
            if (static_cast<float>(theta - margin) != static_cast<float>(theta + margin)) {
                boundaryA = a;
                boundaryB = b;
                found = true;
            }
        }
    }
    ASSERT_TRUE(found);
    // y = P2 - P0 = boundaryA, x = P3 - P1 = boundaryB at range 4000, in every pixel.
    std::vector<uint8_t> raw(hqvga::kRawBytes);
    const int p0 = boundaryA >= 0 ? -1024 : 1023;
    const int p1 = boundaryB >= 0 ? -1024 : 1023;
    const int p[4] = {p0, p1, p0 + boundaryA, p1 + boundaryB};
    for (int sub = 0; sub < 4; ++sub) {
        for (int i = 0; i < hqvga::kPixels; ++i) {
            const uint16_t sample = static_cast<uint16_t>(p[sub] & 0x7FF);
            const size_t at = 2 * (static_cast<size_t>(sub) * hqvga::kPixels + i);
            raw[at] = static_cast<uint8_t>(sample & 0xFF);
            raw[at + 1] = static_cast<uint8_t>(sample >> 8);
        }
    }
    std::vector<float> depth(hqvga::kPixels), amplitude(hqvga::kPixels), confidence(hqvga::kPixels);
    const uint64_t before = hqvga::exactFallbackCount();
    hqvga::phaseImage(raw.data(), 0, 4000, hqvga::kFrequency4m, depth.data(), amplitude.data(),
                      confidence.data());
    EXPECT_EQ(hqvga::exactFallbackCount() - before, static_cast<uint64_t>(hqvga::kPixels));
    const hqvga::PixelResult exact = hqvga::pixelFromDifferences(
        16 * boundaryA, 16 * boundaryB, hqvga::depthScale(hqvga::kFrequency4m));
    EXPECT_EQ(std::memcmp(&depth[123], &exact.depth, 4), 0);
    EXPECT_EQ(std::memcmp(&amplitude[123], &exact.amplitude, 4), 0);
}
