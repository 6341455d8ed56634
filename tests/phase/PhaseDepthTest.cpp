// Depth, amplitude and confidence against ground truth; parameters, calibration, denoising.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "tests/phase/PhaseLibraryHarness.h"

using namespace phase_test;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

SyntheticScene wall(double distanceMm) { return wallAt(distanceMm, kWidth, kHeight); }

// Standard deviation of plane - truth over the pixels at least `margin` from the border.
double deviationOf(const std::vector<float>& plane, double truth, int margin, double* mean = 0) {
    std::vector<double> values;
    for (int y = margin; y < kHeight - margin; ++y) {
        for (int x = margin; x < kWidth - margin; ++x) values.push_back(plane[y * kWidth + x]);
    }
    const double average = std::accumulate(values.begin(), values.end(), 0.0) / values.size();
    double sum = 0;
    for (double v : values) sum += (v - average) * (v - average);
    if (mean) *mean = average - truth;
    return std::sqrt(sum / values.size());
}

class PhaseDepth : public ::testing::Test {
protected:
    void configure(const std::string& text) {
        ASSERT_TRUE(writeFile("ConfigAlgorithm.json", text));
    }

    // One stream of one frame.
    Planes compute(const SyntheticScene& scene, bool dual, SynthesisOptions options = {}) {
        options.dualFrequency = dual;
        LibraryInstance library;
        EXPECT_TRUE(library.startStream(scene.width, scene.height, dual));
        Planes planes(scene.width, scene.height);
        EXPECT_TRUE(library.process(synthesiseFrame(scene, options), planes));
        return planes;
    }

    TemporaryDirectory directory;
    ScopedWorkingDirectory inDirectory{directory.path()};
};

}  // namespace

// The default-configuration pass also puts garbage into bits 12..15 of every sample word.
TEST_F(PhaseDepth, SingleFrequencyTiltedPlaneIsGroundTruthWrappedAt1250) {
    SyntheticScene scene = wall(0);
    scene.distanceMm = [](int x, int y) { return 200.0 + 36.0 * x + 5.0 * y; };  // to 2703 mm
    for (const char* config : {kFiltersOff, kDefaultAlgorithmText}) {
        configure(config);
        SynthesisOptions options;
        options.dirtyHighBits = config == kDefaultAlgorithmText;
        const Planes planes = compute(scene, false, options);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const double truth = scene.distanceMm(x, y);
                const float depth = planes.depth[y * kWidth + x];
                ASSERT_LT(depth, 1250.0f);
                ASSERT_NEAR(modularError(depth, truth, kSingleRangeMm), 0.0, 0.5)
                    << "at " << x << "," << y << " truth " << truth << " with " << config;
            }
        }
    }
}

TEST_F(PhaseDepth, DualFrequencyRecoversEveryDistanceUpTo4500) {
    // One column per distance, 10 mm to 4480 mm in 7 mm steps.
    SyntheticScene scene = wallAt(0, 640, 6);
    scene.distanceMm = [](int x, int) { return 10.0 + 7.0 * x; };
    for (const char* config : {kFiltersOff, kDefaultAlgorithmText}) {
        configure(config);
        SynthesisOptions options;
        options.dirtyHighBits = config == kDefaultAlgorithmText;
        const Planes planes = compute(scene, true, options);
        for (int i = 0; i < 640 * 6; ++i) {
            ASSERT_NEAR(planes.depth[i], 10.0 + 7.0 * (i % 640), 1.0) << i << " with " << config;
        }
    }
}

TEST_F(PhaseDepth, AmplitudeConfidenceAndSaturationFollowTheDocumentedModel) {
    configure(kFiltersOff);
    SyntheticScene scene = wall(900);
    // Left: A = 200, grey 384: snr = 200 / sqrt(384 + 16) = 10, confidence 10 / 12.
    // Right: A = 5, grey 1500: snr 0.128, confidence 0.060, below the 0.25 threshold.
    // A bright patch at 10..19 clips at 4095.
    scene.amplitude = [](int x, int) { return x < kWidth / 2 ? 200.0 : 5.0; };
    scene.grey = [](int x, int) { return x < kWidth / 2 ? 384.0 : 1500.0; };
    scene.offset = [](int x, int y) {
        return x >= 10 && x < 20 && y >= 10 && y < 20 ? 3950.0 : 1000.0;
    };
    const int strong = kWidth * 30 + 5, weak = kWidth * 10 + 50, clipped = kWidth * 15 + 15;
    const double weakSnr = 5.0 / std::sqrt(1516.0);
    for (bool dual : {false, true}) {
        const Planes planes = compute(scene, dual);
        EXPECT_NEAR(planes.amplitude[strong], 200.0, 0.6) << dual;
        EXPECT_NEAR(planes.confidence[strong], 10.0 / 12.0, 0.003) << dual;
        EXPECT_NEAR(planes.depth[strong], 900.0, 0.5) << dual;
        EXPECT_NEAR(planes.amplitude[weak], 5.0, 0.6) << dual;
        EXPECT_NEAR(planes.confidence[weak], weakSnr / (weakSnr + 2.0), 0.01) << dual;
        EXPECT_EQ(planes.depth[weak], 0.0f) << dual;
        EXPECT_EQ(planes.depth[clipped], 0.0f) << dual;
        EXPECT_EQ(planes.confidence[clipped], 0.0f) << dual;
    }
    // A lower threshold admits the weak pixels.
    configure(std::string(kFiltersOff) + "ConfidenceThreshold=0.03\n");
    EXPECT_NEAR(compute(scene, false).depth[weak], 900.0, 30.0);
}

TEST_F(PhaseDepth, ValidDistanceRangeBlanksEverythingOutsideAndJunkFallsBackToDefaults) {
    configure(std::string(kFiltersOff) + "[ConfidenceParams]\nValidDistMin=500\nValidDistMax=1000\n");
    SyntheticScene scene = wall(0);
    scene.distanceMm = [](int x, int) { return 300.0 + 12.0 * x; };  // 300 .. 1056 mm
    const Planes planes = compute(scene, true);
    for (int x = 0; x < kWidth; ++x) {
        const double truth = scene.distanceMm(x, 0);
        const float depth = planes.depth[kWidth * 7 + x];
        if (truth < 490 || truth > 1010) {
            EXPECT_EQ(depth, 0.0f) << truth;
        } else if (truth > 510 && truth < 990) {
            EXPECT_NEAR(depth, truth, 0.5);
        }
    }
    std::string junk = "ValidDistMax=oops\nValidDistMin=9999999\n[ConfidenceParams\n=\n";
    for (int i = 0; i < 2000; ++i) junk.push_back(static_cast<char>(i * 131));
    configure(junk);
    EXPECT_NEAR(compute(wall(1100), false).depth[kWidth * 20 + 20], 1100.0, 0.5);
}

TEST_F(PhaseDepth, ConfigurationDirectoryWinsOverTheWorkingDirectoryUntilTheNextInit) {
    configure(std::string(kFiltersOff) + "ValidDistMax=600\n");
    TemporaryDirectory external;
    ASSERT_TRUE(writeFile(external.file("ConfigAlgorithm.json"), "ValidDistMax=5000\n"));
    const auto raw = frameOf(wall(800), false);
    LibraryInstance library;
    Planes planes(kWidth, kHeight);
    auto depthAfterStart = [&](const std::string& configDirectory, bool accepted) {
        EXPECT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
        if (!configDirectory.empty()) {
            EXPECT_EQ(SiSDKSetConfig(library.handle, configDirectory.c_str()), accepted);
        }
        EXPECT_TRUE(SiSDKStart(library.handle));
        EXPECT_TRUE(library.process(raw, planes));
        return planes.depth[kWidth * 5 + 5];
    };
    EXPECT_EQ(depthAfterStart(external.file("missing"), false), 0.0f);  // beyond 600
    EXPECT_NEAR(depthAfterStart(external.path() + "/", true), 800.0, 0.5);
    EXPECT_EQ(depthAfterStart("", true), 0.0f);  // Init reloaded the working directory's file
}

TEST_F(PhaseDepth, DenoiseLevelsReduceNoiseAndTheMethodSwitchesTheFilterOff) {
    SynthesisOptions options;
    options.noiseSigma = 20.0;
    options.noiseSeed = 5;
    const std::string temporalOff = "TDenoiseLevel_Depth=0\nTDenoiseLevel_Gray=0\n";
    SyntheticScene scene = wall(700);
    scene.amplitude = [](int, int) { return 300.0; };
    auto depthNoise = [&](const std::string& config, double* mean = nullptr) {
        configure(temporalOff + "SDenoiseLevel_Gray=0\n" + config);
        return deviationOf(compute(scene, false, options).depth, 700, 2, mean);
    };
    auto amplitudeNoise = [&](const std::string& config) {
        configure(temporalOff + "SDenoiseLevel_Depth=0\n" + config);
        return deviationOf(compute(wall(500), false, options).amplitude, 600, 2);
    };
    const double raw = depthNoise("SDenoiseLevel_Depth=0\n");
    double mean = 99;
    EXPECT_GT(raw, 3.0);  // the noise is really there
    EXPECT_LT(depthNoise("SDenoiseLevel_Depth=3\n", &mean), 0.35 * raw);  // 5 x 5: about 1/5
    EXPECT_LT(std::fabs(mean), 1.0);
    EXPECT_DOUBLE_EQ(depthNoise("SDenoiseLevel_Depth=3\nSDenoiseMethod_Depth=0\n"), raw);
    const double rawAmplitude = amplitudeNoise("SDenoiseLevel_Gray=0\n");
    EXPECT_GT(rawAmplitude, 3.0);
    EXPECT_LT(amplitudeNoise("SDenoiseLevel_Gray=3\n"), 0.35 * rawAmplitude);
}

TEST_F(PhaseDepth, TemporalDenoiseAveragesAStillSceneAndFollowsMotionAtOnce) {
    configure("SDenoiseLevel_Depth=0\nSDenoiseLevel_Gray=0\nTDenoiseLevel_Depth=3\n");
    LibraryInstance library;
    ASSERT_TRUE(library.startStream(kWidth, kHeight, false));
    SynthesisOptions options;
    options.noiseSigma = 10.0;
    Planes planes(kWidth, kHeight);
    double first = 0;
    for (int frame = 0; frame < 30; ++frame) {
        options.noiseSeed = 100 + frame;
        ASSERT_TRUE(library.process(synthesiseFrame(wall(900), options), planes));
        if (frame == 0) first = deviationOf(planes.depth, 900, 0);
    }
    EXPECT_GT(first, 1.0);
    EXPECT_LT(deviationOf(planes.depth, 900, 0), 0.6 * first);

    options.noiseSeed = 999;
    ASSERT_TRUE(library.process(synthesiseFrame(wall(1100), options), planes));
    double moved = 99;
    deviationOf(planes.depth, 1100, 0, &moved);
    EXPECT_LT(std::fabs(moved), 2.0) << "the filter must not drag the old distance along";
}

TEST_F(PhaseDepth, CalibrationOffsetsAreSubtractedPerFrequencyFromTheNextStart) {
    configure(kFiltersOff);
    const auto calibration = calibrationFile(kWidth, kHeight, [](int table, int x, int) {
        return table == 0 ? 100.0f + 0.5f * x : 100.0f;
    });
    const int row = kWidth * 9;
    LibraryInstance library;
    Planes planes(kWidth, kHeight);
    auto start = [&](const std::vector<uint8_t>& file, bool accepted) {
        ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
        EXPECT_EQ(SiSDKSetCaliData(library.handle, file.data(), file.size()), accepted);
        ASSERT_TRUE(SiSDKStart(library.handle));
    };
    start(calibration, true);
    ASSERT_TRUE(library.process(frameOf(wall(900), false), planes));
    for (int x = 0; x < kWidth; ++x) EXPECT_NEAR(planes.depth[row + x], 800.0 - 0.5 * x, 0.5) << x;

    // Dual frequency uses the other two tables.
    SiSDKSetSingleFreq(library.handle, false);
    const auto dual = frameOf(wall(2000), true);
    start(calibration, true);
    ASSERT_TRUE(library.process(dual, planes));
    EXPECT_NEAR(planes.depth[row + 3], 1900.0, 0.5);

    // Init drops the calibration; one made for another geometry is refused.
    start(calibrationFile(kWidth, kHeight + 1, [](int, int, int) { return 50.0f; }), false);
    ASSERT_TRUE(library.process(dual, planes));
    EXPECT_NEAR(planes.depth[row + 3], 2000.0, 0.5);

    // Handed over while streaming, it waits for the next start.
    ASSERT_TRUE(SiSDKSetCaliData(library.handle, calibration.data(), calibration.size()));
    ASSERT_TRUE(library.process(dual, planes));
    EXPECT_NEAR(planes.depth[row + 3], 2000.0, 0.5);
    ASSERT_TRUE(SiSDKStart(library.handle));
    ASSERT_TRUE(library.process(dual, planes));
    EXPECT_NEAR(planes.depth[row + 3], 1900.0, 0.5);
}
