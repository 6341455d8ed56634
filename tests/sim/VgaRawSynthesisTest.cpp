// 640x480 raw synthesis: the block layout of si4c_raw_layout.h, embedded lines, the
// correlation model against ground truth, grey blocks and clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sdk/phase/si4c_raw_layout.h"
#include "sim/scene/VgaRawSynthesis.h"

using namespace Quarvel::sim;

namespace {

constexpr double kPi = 3.14159265358979323846;

VgaSensorParams noiseFree() {
    VgaSensorParams params;
    params.noise.enabled = false;
    return params;
}

// Sample of image pixel `pixel` in block `block` of a raw frame.
uint16_t sampleAt(const std::vector<uint16_t>& raw, int width, int height, int block, int pixel) {
    return raw[static_cast<size_t>(block) * width * (height + 1) + width + pixel];
}

}  // namespace

TEST(VgaSynthesis, FrameSizesFollowTheRawLayout) {
    const VgaRawSynthesis synthesis(Scene::standard(1).render({640, 480, 64.0}), VgaSensorParams{});
    EXPECT_EQ(synthesis.rawLines(VgaFrequencyMode::Single), 2405);
    EXPECT_EQ(synthesis.rawLines(VgaFrequencyMode::Dual), 4810);
    EXPECT_EQ(synthesis.rawSamples(VgaFrequencyMode::Single), 640u * 2405u);
    EXPECT_EQ(synthesis.rawSamples(VgaFrequencyMode::Dual), 640u * 4810u);
    const VgaRawSynthesis small(Scene::standard(1).render({320, 240, 64.0}), VgaSensorParams{});
    EXPECT_EQ(small.rawSamples(VgaFrequencyMode::Single), 320u * 1205u);
    EXPECT_EQ(small.rawSamples(VgaFrequencyMode::Dual), 320u * 2410u);
}

TEST(VgaSynthesis, EmbeddedLinesNameBlockFrequencyRangeAndFrame) {
    const VgaRawSynthesis synthesis(Scene::near(1).render({320, 240, 64.0}), VgaSensorParams{});
    std::vector<uint16_t> raw(synthesis.rawSamples(VgaFrequencyMode::Dual), 0xFFFF);
    ASSERT_EQ(synthesis.synthesize(4097, VgaFrequencyMode::Dual, raw.data(), raw.size()),
              raw.size());
    const int expectedRange[2] = {1500, 2250};
    for (int block = 0; block < 10; ++block) {
        const uint16_t* line = raw.data() + static_cast<size_t>(block) * 320 * 241;
        EXPECT_EQ(line[SI4C_EMBEDDED_BLOCK_KIND], block % 5);
        EXPECT_EQ(line[SI4C_EMBEDDED_FREQUENCY_INDEX], block / 5);
        EXPECT_EQ(line[SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM], expectedRange[block / 5]);
        EXPECT_EQ(line[SI4C_EMBEDDED_FRAME_COUNTER], 1);  // 4097 in 12 bits
        for (int column = 4; column < 320; ++column) ASSERT_EQ(line[column], 0);
    }
    std::vector<uint16_t> single(synthesis.rawSamples(VgaFrequencyMode::Single));
    synthesis.synthesize(7, VgaFrequencyMode::Single, single.data(), single.size());
    for (int block = 0; block < 5; ++block) {
        EXPECT_EQ(
            single[static_cast<size_t>(block) * 320 * 241 + SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM],
            1250);
    }
}

TEST(VgaSynthesis, CorrelationBlocksDecodeToTheGroundTruthAtEachFrequency) {
    // C_k = offset + A cos(phi + k pi/2): atan2(C3 - C1, C0 - C2) = phi = 2 pi d / R.
    const GroundTruth truth = Scene::near(2).render({320, 240, 64.0});
    const VgaRawSynthesis synthesis(truth, noiseFree());
    std::vector<uint16_t> raw(synthesis.rawSamples(VgaFrequencyMode::Dual));
    synthesis.synthesize(0, VgaFrequencyMode::Dual, raw.data(), raw.size());
    int checked = 0;
    for (int pixel = 0; pixel < truth.pixels(); pixel += 37) {
        const double a = synthesis.amplitudeLsb(pixel);
        if (a < 30.0) continue;
        for (int frequency = 0; frequency < 2; ++frequency) {
            const double range = frequency == 0 ? 1500.0 : 2250.0;
            const int base = 5 * frequency;
            const double c0 = sampleAt(raw, 320, 240, base + 0, pixel);
            const double c1 = sampleAt(raw, 320, 240, base + 1, pixel);
            const double c2 = sampleAt(raw, 320, 240, base + 2, pixel);
            const double c3 = sampleAt(raw, 320, 240, base + 3, pixel);
            double phase = std::atan2(c3 - c1, c0 - c2);
            if (phase < 0) phase += 2 * kPi;
            const double expected = std::fmod(truth.distanceMm[pixel], range);
            const double bound =
                std::asin(std::min(1.0, std::sqrt(2.0) / (2 * a))) * range / (2 * kPi) + 0.01;
            ASSERT_NEAR(phase * range / (2 * kPi), expected, bound) << pixel;
            // The grey block holds the offset, which is also the mean of the four steps.
            const double grey = sampleAt(raw, 320, 240, base + 4, pixel);
            EXPECT_NEAR(grey, synthesis.offsetLsb(pixel), 0.5);
            EXPECT_NEAR((c0 + c1 + c2 + c3) / 4.0, grey, 1.0);
        }
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

TEST(VgaSynthesis, SingleFrequencyWrapsAtTwelveHundredFiftyMillimetres) {
    const GroundTruth truth = Scene::wall(1600.0, 1).render({320, 240, 64.0});
    const VgaRawSynthesis synthesis(truth, noiseFree());
    std::vector<uint16_t> raw(synthesis.rawSamples(VgaFrequencyMode::Single));
    synthesis.synthesize(0, VgaFrequencyMode::Single, raw.data(), raw.size());
    const int centre = 120 * 320 + 160;
    const double c0 = sampleAt(raw, 320, 240, 0, centre), c1 = sampleAt(raw, 320, 240, 1, centre);
    const double c2 = sampleAt(raw, 320, 240, 2, centre), c3 = sampleAt(raw, 320, 240, 3, centre);
    double phase = std::atan2(c3 - c1, c0 - c2);
    if (phase < 0) phase += 2 * kPi;
    EXPECT_NEAR(phase * 1250.0 / (2 * kPi), truth.distanceMm[centre] - 1250.0, 3.0);
}

TEST(VgaSynthesis, BrightPixelsClipAtTheTwelveBitMaximum) {
    VgaSensorParams bright = noiseFree();
    bright.signalLsb = 100000.0;
    const VgaRawSynthesis synthesis(Scene::wall(1000.0, 1).render({320, 240, 64.0}), bright);
    std::vector<uint16_t> raw(synthesis.rawSamples(VgaFrequencyMode::Single));
    synthesis.synthesize(0, VgaFrequencyMode::Single, raw.data(), raw.size());
    int atMaximum = 0;
    for (int block = 0; block < 5; ++block) {
        for (int pixel = 0; pixel < 320 * 240; ++pixel) {
            const uint16_t value = sampleAt(raw, 320, 240, block, pixel);
            ASSERT_LE(value, SI4C_SAMPLE_MAX);
            if (value == SI4C_SAMPLE_MAX) ++atMaximum;
        }
    }
    EXPECT_GT(atMaximum, 320 * 240);
}

TEST(VgaSynthesis, NoisyFramesDifferPerFrameAndRepeatPerFrameNumber) {
    const VgaRawSynthesis synthesis(Scene::standard(1).render({320, 240, 64.0}), VgaSensorParams{});
    const size_t samples = synthesis.rawSamples(VgaFrequencyMode::Single);
    std::vector<uint16_t> a(samples), b(samples), c(samples);
    synthesis.synthesize(5, VgaFrequencyMode::Single, a.data(), samples);
    synthesis.synthesize(5, VgaFrequencyMode::Single, b.data(), samples);
    synthesis.synthesize(6, VgaFrequencyMode::Single, c.data(), samples);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    std::vector<uint16_t> tooSmall(samples - 1, 7);
    EXPECT_EQ(synthesis.synthesize(5, VgaFrequencyMode::Single, tooSmall.data(), tooSmall.size()),
              0u);
    for (uint16_t value : tooSmall) ASSERT_EQ(value, 7);
}
