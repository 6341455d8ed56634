// 240x180 raw synthesis: the documented sub-frame pairings recover distance, sample
// encoding, phase wrap, bounded noise, determinism and saturation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sim/scene/HqvgaRawSynthesis.h"

using namespace Quarvel::sim;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPixels = HqvgaRawSynthesis::kPixels;

// The signed value in the low 11 bits of a 12-bit sample.
int signedValue(uint16_t sample) {
    const int field = sample & 0x7FF;
    return field >= 0x400 ? field - 0x800 : field;
}

struct Frame {
    std::vector<uint16_t> sub[4];
};

Frame synthesiseFrame(const HqvgaRawSynthesis& synthesis, uint64_t frame,
                      HqvgaModulation modulation) {
    Frame out;
    for (int k = 0; k < 4; ++k) {
        out.sub[k].assign(kPixels, 0xFFFF);
        EXPECT_EQ(synthesis.synthesize(frame, k, modulation, out.sub[k].data(), kPixels),
                  static_cast<size_t>(kPixels));
    }
    return out;
}

// Distance from the four sub-frames with the pairing each range uses:
// long range atan2(P2 - P0, P3 - P1), short range atan2(P1 - P3, P2 - P0).
double decodeDistance(const Frame& frame, int pixel, HqvgaModulation modulation) {
    int p[4];
    for (int k = 0; k < 4; ++k) p[k] = signedValue(frame.sub[k][pixel]);
    const bool shortRange = modulation == HqvgaModulation::ShortRange;
    const double y = shortRange ? p[1] - p[3] : p[2] - p[0];
    const double x = shortRange ? p[2] - p[0] : p[3] - p[1];
    double phase = std::atan2(y, x);
    if (phase < 0) phase += 2 * kPi;
    const double range = shortRange ? 2000.0 : 4000.0;
    return phase * range / (2 * kPi);
}

HqvgaSensorParams noiseFree() {
    HqvgaSensorParams params;
    params.noise.enabled = false;
    return params;
}

GroundTruth hqvgaView(const Scene& scene) { return scene.render({240, 180, 64.0}); }

}  // namespace

TEST(HqvgaSynthesis, ModulationSettingsAreThoseOfTheTwoRanges) {
    EXPECT_DOUBLE_EQ(HqvgaRawSynthesis::modulationFrequencyHz(HqvgaModulation::LongRange), 37.5e6);
    EXPECT_DOUBLE_EQ(HqvgaRawSynthesis::modulationFrequencyHz(HqvgaModulation::ShortRange), 75e6);
    EXPECT_DOUBLE_EQ(HqvgaRawSynthesis::unambiguousRangeMm(HqvgaModulation::LongRange), 4000.0);
    EXPECT_DOUBLE_EQ(HqvgaRawSynthesis::unambiguousRangeMm(HqvgaModulation::ShortRange), 2000.0);
}

TEST(HqvgaSynthesis, NoiseFreeSamplesAreTheRoundedDifferentialCorrelation) {
    // A wall at 1234 mm: phase 2 pi 1234 / 4000 in the long range. With a = amplitude the
    // long-range pairing needs P2 - P0 = 2a sin(phi) and P3 - P1 = 2a cos(phi).
    const HqvgaRawSynthesis synthesis(hqvgaView(Scene::wall(1234.0, 1)), noiseFree());
    const Frame frame = synthesiseFrame(synthesis, 0, HqvgaModulation::LongRange);
    for (int pixel : {0, 120 + 90 * 240, kPixels - 1}) {
        const double a = synthesis.amplitudeLsb(pixel);
        const double phi = 2 * kPi * synthesis.groundTruth().distanceMm[pixel] / 4000.0;
        EXPECT_GT(a, 50.0);
        EXPECT_NEAR(signedValue(frame.sub[2][pixel]) - signedValue(frame.sub[0][pixel]),
                    2 * a * std::sin(phi), 1.0);
        EXPECT_NEAR(signedValue(frame.sub[3][pixel]) - signedValue(frame.sub[1][pixel]),
                    2 * a * std::cos(phi), 1.0);
        EXPECT_NEAR(signedValue(frame.sub[0][pixel]) + signedValue(frame.sub[2][pixel]), 0.0, 1.0);
    }
}

TEST(HqvgaSynthesis, EachRangePairingRecoversTheGroundTruth) {
    const HqvgaRawSynthesis synthesis(hqvgaView(Scene::standard(1)), noiseFree());
    const GroundTruth& truth = synthesis.groundTruth();
    for (HqvgaModulation modulation : {HqvgaModulation::LongRange, HqvgaModulation::ShortRange}) {
        const double range = HqvgaRawSynthesis::unambiguousRangeMm(modulation);
        const Frame frame = synthesiseFrame(synthesis, 3, modulation);
        int checked = 0;
        for (int i = 0; i < kPixels; ++i) {
            const double a = synthesis.amplitudeLsb(i);
            const double d = truth.distanceMm[i];
            if (a < 20.0 || d >= range - 50.0 || synthesis.saturated(i, modulation)) continue;
            // Rounding moves each sample by at most 0.5 LSB.
            const double bound =
                std::asin(std::min(1.0, std::sqrt(2.0) / (2 * a))) * range / (2 * kPi) + 0.01;
            ASSERT_NEAR(decodeDistance(frame, i, modulation), d, bound) << "pixel " << i;
            ++checked;
        }
        EXPECT_GT(checked, kPixels / 4);
    }
}

TEST(HqvgaSynthesis, SamplesAreTwelveBitsWithTheSignRepeatedInBitEleven) {
    const HqvgaRawSynthesis synthesis(hqvgaView(Scene::standard(5)), HqvgaSensorParams{});
    const Frame frame = synthesiseFrame(synthesis, 11, HqvgaModulation::LongRange);
    int negative = 0;
    for (int k = 0; k < 4; ++k) {
        for (uint16_t sample : frame.sub[k]) {
            ASSERT_EQ(sample & 0xF000, 0);
            ASSERT_EQ((sample >> 11) & 1, (sample >> 10) & 1);
            if (signedValue(sample) < 0) ++negative;
        }
    }
    EXPECT_GT(negative, kPixels);  // both signs occur
}

TEST(HqvgaSynthesis, DistancesBeyondTheUnambiguousRangeWrapAround) {
    const HqvgaRawSynthesis synthesis(hqvgaView(Scene::wall(2500.0, 1)), noiseFree());
    const int centre = 120 + 90 * 240;
    const double truth = synthesis.groundTruth().distanceMm[centre];
    const Frame shortFrame = synthesiseFrame(synthesis, 0, HqvgaModulation::ShortRange);
    const Frame longFrame = synthesiseFrame(synthesis, 0, HqvgaModulation::LongRange);
    EXPECT_NEAR(decodeDistance(shortFrame, centre, HqvgaModulation::ShortRange), truth - 2000.0,
                3.0);
    EXPECT_NEAR(decodeDistance(longFrame, centre, HqvgaModulation::LongRange), truth, 3.0);
}

TEST(HqvgaSynthesis, NoiseIsBoundedAndHasTheModelledSpread) {
    const GroundTruth truth = hqvgaView(Scene::standard(1));
    const HqvgaRawSynthesis clean(truth, noiseFree());
    const HqvgaRawSynthesis noisy(truth, HqvgaSensorParams{});
    std::vector<uint16_t> mean(kPixels), sample(kPixels);
    clean.synthesize(0, 1, HqvgaModulation::LongRange, mean.data(), kPixels);

    const int pixels[] = {0, 5000, 21720, 40000};
    double sum[4] = {}, sumSquares[4] = {};
    const int frames = 400;
    for (int frame = 0; frame < frames; ++frame) {
        noisy.synthesize(frame, 1, HqvgaModulation::LongRange, sample.data(), kPixels);
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
        const double spread =
            std::sqrt(sumSquares[j] / frames - (sum[j] / frames) * (sum[j] / frames));
        EXPECT_GT(sigma, 1.0);
        EXPECT_NEAR(spread, std::sqrt(sigma * sigma + 1.0 / 12.0), 0.15 * sigma) << pixels[j];
        // Rounding the clean sample may shift the mean by up to half an LSB.
        EXPECT_NEAR(sum[j] / frames, 0.0, 0.5 + 4.0 * sigma / std::sqrt(double(frames)));
    }
}

TEST(HqvgaSynthesis, NoiseIsReproducibleFromSeedFrameAndSubframe) {
    const GroundTruth truth = hqvgaView(Scene::standard(1));
    HqvgaSensorParams otherSeed;
    otherSeed.noise.seed = 99;
    const HqvgaRawSynthesis synthesis(truth, HqvgaSensorParams{});
    const HqvgaRawSynthesis reseeded(truth, otherSeed);
    std::vector<uint16_t> a(kPixels), b(kPixels), c(kPixels), d(kPixels), e(kPixels);
    synthesis.synthesize(42, 2, HqvgaModulation::ShortRange, a.data(), kPixels);
    synthesis.synthesize(42, 2, HqvgaModulation::ShortRange, b.data(), kPixels);
    synthesis.synthesize(43, 2, HqvgaModulation::ShortRange, c.data(), kPixels);
    synthesis.synthesize(42, 3, HqvgaModulation::ShortRange, d.data(), kPixels);
    reseeded.synthesize(42, 2, HqvgaModulation::ShortRange, e.data(), kPixels);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, d);
    EXPECT_NE(a, e);
}

TEST(HqvgaSynthesis, StrongLightSaturatesAndIsReported) {
    const GroundTruth truth = hqvgaView(Scene::wall(1000.0, 1));
    HqvgaSensorParams glare = noiseFree();
    glare.ambientLsb = 50000.0;  // both taps full: the difference collapses
    const HqvgaRawSynthesis blinded(truth, glare);
    HqvgaSensorParams bright = noiseFree();
    bright.signalLsb = 5000.0;
    bright.tapFullScaleLsb = 1e9;  // only the 11-bit value clips
    const HqvgaRawSynthesis clipped(truth, bright);

    const int centre = 120 + 90 * 240;
    EXPECT_TRUE(blinded.saturated(centre, HqvgaModulation::LongRange));
    EXPECT_TRUE(clipped.saturated(centre, HqvgaModulation::LongRange));
    std::vector<uint16_t> sample(kPixels);
    for (int k = 0; k < 4; ++k) {
        blinded.synthesize(0, k, HqvgaModulation::LongRange, sample.data(), kPixels);
        EXPECT_EQ(signedValue(sample[centre]), 0);
        clipped.synthesize(0, k, HqvgaModulation::LongRange, sample.data(), kPixels);
        const int value = signedValue(sample[centre]);
        EXPECT_GE(value, -1024);
        EXPECT_LE(value, 1023);
    }
    // At least one phase step drives the value onto a rail.
    int onRail = 0;
    for (int k = 0; k < 4; ++k) {
        clipped.synthesize(0, k, HqvgaModulation::LongRange, sample.data(), kPixels);
        const int value = signedValue(sample[centre]);
        if (value == -1024 || value == 1023) ++onRail;
    }
    EXPECT_GE(onRail, 2);

    const HqvgaRawSynthesis normal(truth, HqvgaSensorParams{});
    EXPECT_FALSE(normal.saturated(centre, HqvgaModulation::LongRange));
}

TEST(HqvgaSynthesis, RefusesBuffersTooSmallAndUnknownSubframes) {
    const HqvgaRawSynthesis synthesis(hqvgaView(Scene::standard(1)), HqvgaSensorParams{});
    std::vector<uint16_t> sample(kPixels, 0xABCD);
    EXPECT_EQ(synthesis.synthesize(0, 0, HqvgaModulation::LongRange, sample.data(), kPixels - 1),
              0u);
    EXPECT_EQ(synthesis.synthesize(0, 4, HqvgaModulation::LongRange, sample.data(), kPixels), 0u);
    EXPECT_EQ(synthesis.synthesize(0, -1, HqvgaModulation::LongRange, sample.data(), kPixels), 0u);
    for (uint16_t value : sample) ASSERT_EQ(value, 0xABCD);
}
