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
const CameraGeometry kQuarter{320, 240, 64.0};  // the layout scales; smaller frames are quicker

VgaSensorParams noiseFree() {
    VgaSensorParams params;
    params.noise.enabled = false;
    return params;
}

std::vector<uint16_t> rawFrame(const VgaRawSynthesis& synthesis, uint64_t frame,
                               VgaFrequencyMode mode) {
    std::vector<uint16_t> raw(synthesis.rawSamples(mode), 0xFFFF);
    EXPECT_EQ(synthesis.synthesize(frame, mode, raw.data(), raw.size()), raw.size());
    return raw;
}

// Sample of image pixel `pixel` in block `block` of a 320x240 raw frame.
double sampleAt(const std::vector<uint16_t>& raw, int block, int pixel) {
    return raw[static_cast<size_t>(block) * 320 * 241 + 320 + pixel];
}

}  // namespace

TEST(VgaSynthesis, FramesAreBlocksOfEmbeddedLineAndImageNamingKindFrequencyRangeAndFrame) {
    const VgaRawSynthesis full(Scene::standard(1).render({640, 480, 64.0}), VgaSensorParams{});
    EXPECT_EQ(full.rawLines(VgaFrequencyMode::Single), 2405);
    EXPECT_EQ(full.rawLines(VgaFrequencyMode::Dual), 4810);
    EXPECT_EQ(full.rawSamples(VgaFrequencyMode::Dual), 640u * 4810u);

    const VgaRawSynthesis synthesis(Scene::near(1).render(kQuarter), VgaSensorParams{});
    ASSERT_EQ(synthesis.rawSamples(VgaFrequencyMode::Single), 320u * 1205u);
    const std::vector<uint16_t> dual = rawFrame(synthesis, 4097, VgaFrequencyMode::Dual);
    ASSERT_EQ(dual.size(), 320u * 2410u);
    const int expectedRange[2] = {1500, 2250};
    for (int block = 0; block < 10; ++block) {
        const uint16_t* line = dual.data() + static_cast<size_t>(block) * 320 * 241;
        EXPECT_EQ(line[SI4C_EMBEDDED_BLOCK_KIND], block % 5);
        EXPECT_EQ(line[SI4C_EMBEDDED_FREQUENCY_INDEX], block / 5);
        EXPECT_EQ(line[SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM], expectedRange[block / 5]);
        EXPECT_EQ(line[SI4C_EMBEDDED_FRAME_COUNTER], 1);  // 4097 in 12 bits
        for (int column = 4; column < 320; ++column) ASSERT_EQ(line[column], 0);
    }
    const std::vector<uint16_t> single = rawFrame(synthesis, 7, VgaFrequencyMode::Single);
    for (int block = 0; block < 5; ++block) {
        EXPECT_EQ(single[block * 320 * 241 + SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM], 1250);
    }
}

TEST(VgaSynthesis, CorrelationBlocksDecodeToTheWrappedGroundTruthAtEachFrequency) {
    // C_k = offset + A cos(phi + k pi/2): atan2(C3 - C1, C0 - C2) = phi = 2 pi d / R.
    struct Case {
        Scene scene;
        VgaFrequencyMode mode;
        std::vector<double> ranges;
    } cases[] = {{Scene::near(2), VgaFrequencyMode::Dual, {1500.0, 2250.0}},
                 {Scene::wall(1600.0, 1), VgaFrequencyMode::Single, {1250.0}}};  // wraps
    for (const Case& c : cases) {
        const GroundTruth truth = c.scene.render(kQuarter);
        const VgaRawSynthesis synthesis(truth, noiseFree());
        const std::vector<uint16_t> raw = rawFrame(synthesis, 0, c.mode);
        int checked = 0;
        for (int pixel = 0; pixel < truth.pixels(); pixel += 37) {
            const double a = synthesis.amplitudeLsb(pixel);
            if (a < 30.0) continue;
            for (size_t f = 0; f < c.ranges.size(); ++f) {
                const double range = c.ranges[f];
                double C[5];
                for (int k = 0; k < 5; ++k) C[k] = sampleAt(raw, 5 * int(f) + k, pixel);
                const double decoded = std::atan2(C[3] - C[1], C[0] - C[2]) * range / (2 * kPi);
                const double bound =
                    std::asin(std::min(1.0, std::sqrt(2.0) / (2 * a))) * range / (2 * kPi) + 0.01;
                ASSERT_LE(std::fabs(std::remainder(decoded - truth.distanceMm[pixel], range)),
                          bound)
                    << "pixel " << pixel << " range " << range;
                // The grey block holds the offset, which is also the mean of the four steps.
                ASSERT_NEAR(C[4], synthesis.offsetLsb(pixel), 0.5);
                ASSERT_NEAR((C[0] + C[1] + C[2] + C[3]) / 4.0, C[4], 1.0);
            }
            ++checked;
        }
        EXPECT_GT(checked, 1000);
    }
}

TEST(VgaSynthesis, BrightPixelsClipAtTheTwelveBitMaximum) {
    VgaSensorParams bright = noiseFree();
    bright.signalLsb = 100000.0;
    const VgaRawSynthesis synthesis(Scene::wall(1000.0, 1).render(kQuarter), bright);
    const std::vector<uint16_t> raw = rawFrame(synthesis, 0, VgaFrequencyMode::Single);
    int atMaximum = 0;
    for (int block = 0; block < 5; ++block) {
        for (int pixel = 0; pixel < 320 * 240; ++pixel) {
            const double value = sampleAt(raw, block, pixel);
            ASSERT_LE(value, SI4C_SAMPLE_MAX);
            if (value == SI4C_SAMPLE_MAX) ++atMaximum;
        }
    }
    EXPECT_GT(atMaximum, 320 * 240);
}

TEST(VgaSynthesis, NoisyFramesDifferPerFrameRepeatPerFrameNumberAndNeedRoom) {
    const VgaRawSynthesis synthesis(Scene::standard(1).render(kQuarter), VgaSensorParams{});
    const std::vector<uint16_t> five = rawFrame(synthesis, 5, VgaFrequencyMode::Single);
    EXPECT_EQ(rawFrame(synthesis, 5, VgaFrequencyMode::Single), five);
    EXPECT_NE(rawFrame(synthesis, 6, VgaFrequencyMode::Single), five);
    std::vector<uint16_t> tooSmall(five.size() - 1, 7);
    EXPECT_EQ(synthesis.synthesize(5, VgaFrequencyMode::Single, tooSmall.data(), tooSmall.size()),
              0u);
    for (uint16_t value : tooSmall) ASSERT_EQ(value, 7);
}
