// Depth, amplitude and confidence against ground truth; parameters, calibration, denoising.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "tests/phase/PhaseLibraryHarness.h"

using namespace phase_test;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

SyntheticScene wallAt(double distanceMm, int width = kWidth, int height = kHeight) {
    SyntheticScene scene;
    scene.width = width;
    scene.height = height;
    scene.distanceMm = [distanceMm](int, int) { return distanceMm; };
    return scene;
}

struct Spread {
    double mean = 0;
    double deviation = 0;
};

// Mean and standard deviation of plane - truth over the pixels at least `margin` from the
// border.
Spread spreadOf(const std::vector<float>& plane, double truth, int width, int height, int margin) {
    std::vector<double> values;
    for (int y = margin; y < height - margin; ++y) {
        for (int x = margin; x < width - margin; ++x)
            values.push_back(plane[y * width + x] - truth);
    }
    Spread spread;
    spread.mean = std::accumulate(values.begin(), values.end(), 0.0) / values.size();
    double sum = 0;
    for (double v : values) sum += (v - spread.mean) * (v - spread.mean);
    spread.deviation = std::sqrt(sum / values.size());
    return spread;
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

TEST_F(PhaseDepth, SingleFrequencyTiltedPlaneMatchesGroundTruthModuloItsRange) {
    SyntheticScene scene = wallAt(0);
    scene.distanceMm = [](int x, int y) { return 200.0 + 14.0 * x + 5.0 * y; };  // to 1317 mm
    for (const char* config : {kFiltersOff, kDefaultAlgorithmText}) {
        configure(config);
        const Planes planes = compute(scene, false);
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

TEST_F(PhaseDepth, SingleFrequencyWrapsDistancesBeyond1250) {
    configure(kFiltersOff);
    const double walls[][2] = {{1500, 250}, {2600, 100}, {1260, 10}, {1240, 1240}};
    for (const auto& wall : walls) {
        const Planes planes = compute(wallAt(wall[0]), false);
        EXPECT_NEAR(planes.depth[kWidth * 20 + 30], wall[1], 0.5) << "wall at " << wall[0];
    }
}

TEST_F(PhaseDepth, DualFrequencyRecoversEveryDistanceUpTo4500) {
    // One column per distance, 10 mm to 4480 mm in 7 mm steps.
    SyntheticScene scene = wallAt(0, 640, 6);
    scene.distanceMm = [](int x, int) { return 10.0 + 7.0 * x; };
    for (const char* config : {kFiltersOff, kDefaultAlgorithmText}) {
        configure(config);
        const Planes planes = compute(scene, true);
        for (int x = 0; x < 640; ++x) {
            for (int y = 0; y < 6; ++y) {
                ASSERT_NEAR(planes.depth[y * 640 + x], scene.distanceMm(x, y), 1.0)
                    << "column " << x << " with " << config;
            }
        }
    }
}

TEST_F(PhaseDepth, DualFrequencyUnwrapsReliablyUnderSensorNoise) {
    configure(kFiltersOff);
    SyntheticScene scene = wallAt(0, 640, 16);
    scene.distanceMm = [](int x, int) { return 40.0 + 6.9 * x; };
    SynthesisOptions options;
    options.noiseSigma = 10.0;
    options.noiseSeed = 77;
    const Planes planes = compute(scene, true, options);
    double squares = 0;
    double worst = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 640; ++x) {
            const double error = planes.depth[y * 640 + x] - scene.distanceMm(x, y);
            squares += error * error;
            worst = std::max(worst, std::fabs(error));
        }
    }
    EXPECT_LT(worst, 30.0) << "an unwrapping error jumps by hundreds of millimetres";
    EXPECT_LT(std::sqrt(squares / (16 * 640)), 5.0);
}

TEST_F(PhaseDepth, AmplitudeAndConfidenceFollowTheDocumentedModel) {
    configure(kFiltersOff);
    SyntheticScene scene = wallAt(900);
    // Left half: A = 200, grey 384: snr = 200 / sqrt(384 + 16) = 10, confidence 10 / 12.
    // Right half: A = 5, grey 1500: snr = 0.128, confidence 0.060, below the 0.25 threshold.
    scene.amplitude = [](int x, int) { return x < kWidth / 2 ? 200.0 : 5.0; };
    scene.grey = [](int x, int) { return x < kWidth / 2 ? 384.0 : 1500.0; };
    scene.offset = [](int, int) { return 1000.0; };
    for (bool dual : {false, true}) {
        const Planes planes = compute(scene, dual);
        const int strong = kWidth * 10 + 5;
        const int weak = kWidth * 10 + 50;
        EXPECT_NEAR(planes.amplitude[strong], 200.0, 0.6) << dual;
        EXPECT_NEAR(planes.confidence[strong], 10.0 / 12.0, 0.003) << dual;
        EXPECT_NEAR(planes.depth[strong], 900.0, 0.5) << dual;
        EXPECT_NEAR(planes.amplitude[weak], 5.0, 0.6) << dual;
        const double weakSnr = 5.0 / std::sqrt(1516.0);
        EXPECT_NEAR(planes.confidence[weak], weakSnr / (weakSnr + 2.0), 0.01) << dual;
        EXPECT_EQ(planes.depth[weak], 0.0f) << dual;
    }
    // A lower threshold admits the weak pixels.
    configure(std::string(kFiltersOff) + "ConfidenceThreshold=0.03\n");
    const Planes admitted = compute(scene, false);
    EXPECT_NEAR(admitted.depth[kWidth * 10 + 50], 900.0, 30.0);
}

TEST_F(PhaseDepth, SaturatedPixelsHaveNeitherDepthNorConfidence) {
    configure(kFiltersOff);
    SyntheticScene scene = wallAt(600);
    // A bright patch whose correlation samples clip at 4095.
    scene.offset = [](int x, int y) {
        return x >= 10 && x < 20 && y >= 10 && y < 20 ? 3800.0 : 1200.0;
    };
    for (bool dual : {false, true}) {
        const Planes planes = compute(scene, dual);
        EXPECT_EQ(planes.depth[kWidth * 15 + 15], 0.0f);
        EXPECT_EQ(planes.confidence[kWidth * 15 + 15], 0.0f);
        EXPECT_NEAR(planes.depth[kWidth * 30 + 30], 600.0, 0.5);
        const double snr = 600.0 / std::sqrt(1500.0 + 16.0);
        EXPECT_NEAR(planes.confidence[kWidth * 30 + 30], snr / (snr + 2.0), 0.003);
    }
}

TEST_F(PhaseDepth, ValidDistanceRangeFromTheWorkingDirectoryBlanksEverythingOutside) {
    configure(std::string(kFiltersOff) +
              "[ConfidenceParams]\nValidDistMin=500\nValidDistMax=1000\n");
    SyntheticScene scene = wallAt(0);
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
}

TEST_F(PhaseDepth, ConfigurationDirectoryWinsOverTheWorkingDirectory) {
    configure(std::string(kFiltersOff) + "ValidDistMax=600\n");
    TemporaryDirectory external;
    ASSERT_TRUE(writeFile(external.file("ConfigAlgorithm.json"), "ValidDistMax=5000\n"));
    const auto raw = synthesiseFrame(wallAt(800), SynthesisOptions());
    const int pixel = kWidth * 5 + 5;

    LibraryInstance library;
    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    EXPECT_FALSE(SiSDKSetConfig(library.handle, external.file("missing").c_str()));
    ASSERT_TRUE(SiSDKStart(library.handle));
    Planes planes(kWidth, kHeight);
    ASSERT_TRUE(library.process(raw, planes));
    EXPECT_EQ(planes.depth[pixel], 0.0f);  // 800 is beyond the working directory's 600

    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    EXPECT_TRUE(SiSDKSetConfig(library.handle, (external.path() + "/").c_str()));
    ASSERT_TRUE(SiSDKStart(library.handle));
    ASSERT_TRUE(library.process(raw, planes));
    EXPECT_NEAR(planes.depth[pixel], 800.0, 0.5);

    // Init reloads the working directory's file: the overlay is gone.
    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    ASSERT_TRUE(SiSDKStart(library.handle));
    ASSERT_TRUE(library.process(raw, planes));
    EXPECT_EQ(planes.depth[pixel], 0.0f);
}

TEST_F(PhaseDepth, MalformedOrMissingConfigurationFallsBackToDefaults) {
    const Planes missing = compute(wallAt(1100), false);
    EXPECT_NEAR(missing.depth[kWidth * 20 + 20], 1100.0, 0.5);

    std::string junk = "ValidDistMax=oops\nValidDistMin=9999999\n[ConfidenceParams\n=\n";
    for (int i = 0; i < 2000; ++i) junk.push_back(static_cast<char>(i * 131));
    configure(junk);
    const Planes malformed = compute(wallAt(1100), false);
    EXPECT_NEAR(malformed.depth[kWidth * 20 + 20], 1100.0, 0.5);
}

TEST_F(PhaseDepth, SpatialDenoiseLevelReducesNoiseAndItsMethodSwitchesItOff) {
    SyntheticScene scene = wallAt(700);
    scene.amplitude = [](int, int) { return 300.0; };
    SynthesisOptions options;
    options.noiseSigma = 20.0;
    options.noiseSeed = 5;
    const std::string temporalOff = "TDenoiseLevel_Depth=0\nTDenoiseLevel_Gray=0\n";

    configure(temporalOff + "SDenoiseLevel_Depth=0\n");
    const Spread raw = spreadOf(compute(scene, false, options).depth, 700, kWidth, kHeight, 2);
    configure(temporalOff + "SDenoiseLevel_Depth=3\n");
    const Spread smoothed = spreadOf(compute(scene, false, options).depth, 700, kWidth, kHeight, 2);
    configure(temporalOff + "SDenoiseLevel_Depth=3\nSDenoiseMethod_Depth=0\n");
    const Spread methodOff =
        spreadOf(compute(scene, false, options).depth, 700, kWidth, kHeight, 2);

    EXPECT_GT(raw.deviation, 3.0);                        // the noise is really there
    EXPECT_LT(smoothed.deviation, 0.35 * raw.deviation);  // 5 x 5 window: about 1/5
    EXPECT_LT(std::fabs(smoothed.mean), 1.0);
    EXPECT_DOUBLE_EQ(methodOff.deviation, raw.deviation);
}

TEST_F(PhaseDepth, TemporalDenoiseAveragesAStillSceneAndFollowsMotionAtOnce) {
    configure("SDenoiseLevel_Depth=0\nSDenoiseLevel_Gray=0\nTDenoiseLevel_Depth=3\n");
    LibraryInstance library;
    ASSERT_TRUE(library.startStream(kWidth, kHeight, false));
    SynthesisOptions options;
    options.noiseSigma = 10.0;
    Planes planes(kWidth, kHeight);
    Spread first;
    for (int frame = 0; frame < 30; ++frame) {
        options.noiseSeed = 100 + frame;
        ASSERT_TRUE(library.process(synthesiseFrame(wallAt(900), options), planes));
        if (frame == 0) first = spreadOf(planes.depth, 900, kWidth, kHeight, 0);
    }
    const Spread settled = spreadOf(planes.depth, 900, kWidth, kHeight, 0);
    EXPECT_GT(first.deviation, 1.0);
    EXPECT_LT(settled.deviation, 0.6 * first.deviation);

    options.noiseSeed = 999;
    ASSERT_TRUE(library.process(synthesiseFrame(wallAt(1100), options), planes));
    const Spread moved = spreadOf(planes.depth, 1100, kWidth, kHeight, 0);
    EXPECT_LT(std::fabs(moved.mean), 2.0) << "the filter must not drag the old distance along";
}

TEST_F(PhaseDepth, GreyDenoiseSmoothsTheAmplitudePlane) {
    SyntheticScene scene = wallAt(500);
    SynthesisOptions options;
    options.noiseSigma = 20.0;
    const std::string otherFiltersOff =
        "TDenoiseLevel_Depth=0\nSDenoiseLevel_Depth=0\nTDenoiseLevel_Gray=0\n";
    configure(otherFiltersOff + "SDenoiseLevel_Gray=0\n");
    const Spread raw = spreadOf(compute(scene, false, options).amplitude, 600, kWidth, kHeight, 2);
    configure(otherFiltersOff + "SDenoiseLevel_Gray=3\n");
    const Spread smoothed =
        spreadOf(compute(scene, false, options).amplitude, 600, kWidth, kHeight, 2);
    EXPECT_GT(raw.deviation, 3.0);
    EXPECT_LT(smoothed.deviation, 0.35 * raw.deviation);
}

TEST_F(PhaseDepth, CalibrationOffsetsAreSubtractedPerFrequency) {
    configure(kFiltersOff);
    const auto calibration = calibrationFile(kWidth, kHeight, [](int table, int x, int) {
        return table == 0 ? 100.0f + 0.5f * x : 100.0f;
    });
    const int row = kWidth * 9;

    LibraryInstance library;
    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    ASSERT_TRUE(SiSDKSetCaliData(library.handle, calibration.data(), calibration.size()));
    ASSERT_TRUE(SiSDKStart(library.handle));
    Planes planes(kWidth, kHeight);
    ASSERT_TRUE(library.process(synthesiseFrame(wallAt(900), SynthesisOptions()), planes));
    for (int x = 0; x < kWidth; ++x) {
        EXPECT_NEAR(planes.depth[row + x], 800.0 - 0.5 * x, 0.5) << x;
    }

    // Dual frequency uses the other two tables.
    SiSDKSetSingleFreq(library.handle, false);
    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    ASSERT_TRUE(SiSDKSetCaliData(library.handle, calibration.data(), calibration.size()));
    ASSERT_TRUE(SiSDKStart(library.handle));
    SynthesisOptions dual;
    dual.dualFrequency = true;
    ASSERT_TRUE(library.process(synthesiseFrame(wallAt(2000), dual), planes));
    EXPECT_NEAR(planes.depth[row + 3], 1900.0, 0.5);

    // Init drops the calibration; one made for another geometry is refused.
    const auto other = calibrationFile(kWidth, kHeight + 1, [](int, int, int) { return 50.0f; });
    ASSERT_TRUE(SiSDKInit(library.handle, kWidth, kHeight));
    EXPECT_FALSE(SiSDKSetCaliData(library.handle, other.data(), other.size()));
    ASSERT_TRUE(SiSDKStart(library.handle));
    ASSERT_TRUE(library.process(synthesiseFrame(wallAt(2000), dual), planes));
    EXPECT_NEAR(planes.depth[row + 3], 2000.0, 0.5);

    // Handed over while streaming, it waits for the next start.
    ASSERT_TRUE(SiSDKSetCaliData(library.handle, calibration.data(), calibration.size()));
    ASSERT_TRUE(library.process(synthesiseFrame(wallAt(2000), dual), planes));
    EXPECT_NEAR(planes.depth[row + 3], 2000.0, 0.5);
    ASSERT_TRUE(SiSDKStart(library.handle));
    ASSERT_TRUE(library.process(synthesiseFrame(wallAt(2000), dual), planes));
    EXPECT_NEAR(planes.depth[row + 3], 1900.0, 0.5);
}

TEST_F(PhaseDepth, HighBitsOfTheSampleWordsAreIgnored) {
    SyntheticScene scene = wallAt(0);
    scene.distanceMm = [](int x, int y) { return 500.0 + 40.0 * x + 9.0 * y; };
    SynthesisOptions dirty;
    dirty.dirtyHighBits = true;
    for (bool dual : {false, true}) {
        const Planes clean = compute(scene, dual);
        const Planes masked = compute(scene, dual, dirty);
        EXPECT_EQ(clean.depth, masked.depth);
        EXPECT_EQ(clean.amplitude, masked.amplitude);
        EXPECT_EQ(clean.confidence, masked.confidence);
    }
}

TEST_F(PhaseDepth, FullSensorGeometryWithTheDefaultConfiguration) {
    configure(kDefaultAlgorithmText);
    SyntheticScene scene = wallAt(0, 640, 480);
    // A floor-like slope from 400 mm to 3900 mm: single frequency wraps twice.
    scene.distanceMm = [](int x, int y) { return 400.0 + 3.0 * x + 3.3 * y; };
    const Planes single = compute(scene, false);
    const Planes dual = compute(scene, true);
    double worstSingle = 0;
    double worstDual = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const double truth = scene.distanceMm(x, y);
            worstSingle =
                std::max(worstSingle,
                         std::fabs(modularError(single.depth[y * 640 + x], truth, kSingleRangeMm)));
            worstDual = std::max(worstDual, std::fabs(dual.depth[y * 640 + x] - truth));
        }
    }
    EXPECT_LT(worstSingle, 1.0);
    EXPECT_LT(worstDual, 1.0);
}
