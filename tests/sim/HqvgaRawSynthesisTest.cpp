// 240x180 raw synthesis: the documented sub-frame pairings recover distance (wrapped beyond
// the range), sample encoding, bounded noise, determinism and saturation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sim/scene/HqvgaRawSynthesis.h"

using namespace Quarvel::sim;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPixels = HqvgaRawSynthesis::kPixels;
constexpr int kCentre = 120 + 90 * 240;
constexpr HqvgaModulation kLong = HqvgaModulation::LongRange;

// The signed value in the low 11 bits of a 12-bit sample.
int signedValue(uint16_t sample) {
    const int field = sample & 0x7FF;
    return field >= 0x400 ? field - 0x800 : field;
}

// The four sub-frames of one frame, as signed values: [k][pixel].
std::vector<std::vector<int>> synthesiseFrame(const HqvgaRawSynthesis& synthesis, uint64_t frame,
                                              HqvgaModulation modulation) {
    std::vector<std::vector<int>> values(4, std::vector<int>(kPixels));
    std::vector<uint16_t> samples(kPixels);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(synthesis.synthesize(frame, k, modulation, samples.data(), kPixels),
                  static_cast<size_t>(kPixels));
        for (int i = 0; i < kPixels; ++i) values[k][i] = signedValue(samples[i]);
    }
    return values;
}

HqvgaSensorParams noiseFree() {
    HqvgaSensorParams params;
    params.noise.enabled = false;
    return params;
}

GroundTruth hqvgaView(const Scene& scene) { return scene.render({240, 180, 64.0}); }

}  // namespace

TEST(HqvgaSynthesis, EachRangePairingRecoversTheGroundTruthWrappedAtItsRange) {
    const HqvgaRawSynthesis synthesis(hqvgaView(Scene::standard(1)), noiseFree());
    const GroundTruth& truth = synthesis.groundTruth();
    for (HqvgaModulation modulation : {kLong, HqvgaModulation::ShortRange}) {
        // 4 m: atan2(P2 - P0, P3 - P1); 2 m: atan2(P1 - P3, P2 - P0).
        const bool shortRange = modulation == HqvgaModulation::ShortRange;
        const double range = shortRange ? 2000.0 : 4000.0;
        const auto p = synthesiseFrame(synthesis, 3, modulation);
        int checked = 0, wrapped = 0;
        for (int i = 0; i < kPixels; ++i) {
            const double a = synthesis.amplitudeLsb(i);
            if (a < 20.0 || synthesis.saturated(i, modulation)) continue;
            const double y = shortRange ? p[1][i] - p[3][i] : p[2][i] - p[0][i];
            const double x = shortRange ? p[2][i] - p[0][i] : p[3][i] - p[1][i];
            // Rounding moves each sample by at most 0.5 LSB, each difference by 1.
            ASSERT_NEAR(std::hypot(x, y), 2 * a, 1.5) << "pixel " << i;
            const double bound =
                std::asin(std::min(1.0, std::sqrt(2.0) / (2 * a))) * range / (2 * kPi) + 0.01;
            const double decoded = std::atan2(y, x) * range / (2 * kPi);
            const double error = std::remainder(decoded - truth.distanceMm[i], range);
            ASSERT_LE(std::fabs(error), bound) << "pixel " << i << " range " << range;
            // The two taps see the same ambient light: opposite phase steps cancel it.
            ASSERT_LE(std::abs(p[0][i] + p[2][i]), 1) << "pixel " << i;
            ++checked;
            if (truth.distanceMm[i] > range) ++wrapped;
        }
        EXPECT_GT(checked, kPixels / 4);
        EXPECT_GT(wrapped, shortRange ? kPixels / 4 : -1);  // the back wall lies beyond 2 m
    }
}

TEST(HqvgaSynthesis, SamplesAreTwelveBitsWithTheSignRepeatedInBitEleven) {
    const HqvgaRawSynthesis synthesis(hqvgaView(Scene::standard(5)), HqvgaSensorParams{});
    std::vector<uint16_t> samples(kPixels);
    int negative = 0;
    for (int k = 0; k < 4; ++k) {
        synthesis.synthesize(11, k, kLong, samples.data(), kPixels);
        for (uint16_t sample : samples) {
            ASSERT_EQ(sample & 0xF000, 0);
            ASSERT_EQ((sample >> 11) & 1, (sample >> 10) & 1);
            if (signedValue(sample) < 0) ++negative;
        }
    }
    EXPECT_GT(negative, kPixels);  // both signs occur
}

TEST(HqvgaSynthesis, NoiseIsBoundedHasTheModelledSpreadAndIsReproducible) {
    const GroundTruth truth = hqvgaView(Scene::standard(1));
    const HqvgaRawSynthesis clean(truth, noiseFree());
    const HqvgaRawSynthesis noisy(truth, HqvgaSensorParams{});
    std::vector<uint16_t> mean(kPixels), sample(kPixels);
    clean.synthesize(0, 1, kLong, mean.data(), kPixels);

    const int pixels[] = {0, 5000, 21720, 40000};
    double sum[4] = {}, sumSquares[4] = {};
    const int frames = 400;
    for (int frame = 0; frame < frames; ++frame) {
        noisy.synthesize(frame, 1, kLong, sample.data(), kPixels);
        for (int j = 0; j < 4; ++j) {
            const int i = pixels[j];
            const double error = signedValue(sample[i]) - signedValue(mean[i]);
            // The clean sample is rounded too, hence one LSB rather than half.
            ASSERT_LE(std::fabs(error), NoiseModel::kLimitSigmas * noisy.noiseSigmaLsb(i) + 1.0);
            sum[j] += error;
            sumSquares[j] += error * error;
        }
    }
    for (int j = 0; j < 4; ++j) {
        const double sigma = noisy.noiseSigmaLsb(pixels[j]);
        const double average = sum[j] / frames;
        EXPECT_GT(sigma, 1.0);
        EXPECT_NEAR(std::sqrt(sumSquares[j] / frames - average * average),
                    std::sqrt(sigma * sigma + 1.0 / 12.0), 0.15 * sigma)
            << pixels[j];
        // Rounding the clean sample may shift the mean by up to half an LSB.
        EXPECT_NEAR(average, 0.0, 0.5 + 4.0 * sigma / std::sqrt(double(frames)));
    }

    // A pure function of seed, frame and sub-frame.
    HqvgaSensorParams otherSeed;
    otherSeed.noise.seed = 99;
    const HqvgaRawSynthesis reseeded(truth, otherSeed);
    const auto subframe = [&](const HqvgaRawSynthesis& s, uint64_t frame, int k) {
        std::vector<uint16_t> out(kPixels);
        s.synthesize(frame, k, HqvgaModulation::ShortRange, out.data(), kPixels);
        return out;
    };
    const std::vector<uint16_t> reference = subframe(noisy, 42, 2);
    EXPECT_EQ(subframe(noisy, 42, 2), reference);
    EXPECT_NE(subframe(noisy, 43, 2), reference);
    EXPECT_NE(subframe(noisy, 42, 3), reference);
    EXPECT_NE(subframe(reseeded, 42, 2), reference);
}

TEST(HqvgaSynthesis, StrongLightSaturatesAndIsReported) {
    const GroundTruth truth = hqvgaView(Scene::wall(1000.0, 1));
    HqvgaSensorParams glare = noiseFree();
    glare.ambientLsb = 50000.0;  // both taps full: the difference collapses
    HqvgaSensorParams bright = noiseFree();
    bright.signalLsb = 5000.0;
    bright.tapFullScaleLsb = 1e9;  // only the 11-bit value clips
    const HqvgaRawSynthesis blinded(truth, glare), clipped(truth, bright);
    EXPECT_TRUE(blinded.saturated(kCentre, kLong));
    EXPECT_TRUE(clipped.saturated(kCentre, kLong));
    EXPECT_FALSE(HqvgaRawSynthesis(truth, HqvgaSensorParams{}).saturated(kCentre, kLong));
    const auto blind = synthesiseFrame(blinded, 0, kLong);
    const auto clip = synthesiseFrame(clipped, 0, kLong);
    int onRail = 0;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(blind[k][kCentre], 0);
        if (clip[k][kCentre] == -1024 || clip[k][kCentre] == 1023) ++onRail;
    }
    EXPECT_GE(onRail, 2);  // a phase step drives the value onto a rail, the opposite one too
}

TEST(HqvgaSynthesis, RefusesBuffersTooSmallAndUnknownSubframes) {
    const HqvgaRawSynthesis synthesis(hqvgaView(Scene::standard(1)), HqvgaSensorParams{});
    std::vector<uint16_t> sample(kPixels, 0xABCD);
    EXPECT_EQ(synthesis.synthesize(0, 0, kLong, sample.data(), kPixels - 1), 0u);
    EXPECT_EQ(synthesis.synthesize(0, 4, kLong, sample.data(), kPixels), 0u);
    EXPECT_EQ(synthesis.synthesize(0, -1, kLong, sample.data(), kPixels), 0u);
    for (uint16_t value : sample) ASSERT_EQ(value, 0xABCD);
}
