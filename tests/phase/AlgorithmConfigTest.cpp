// Reading "ConfigAlgorithm.json": defaults, overlays, and every kind of malformed input.
#include <gtest/gtest.h>

#include <string>

#include "sdk/phase/src/AlgorithmConfig.h"
#include "tests/phase/PhaseLibraryHarness.h"

using si4c::AlgorithmParams;

namespace {

AlgorithmParams applied(const std::string& text, AlgorithmParams start = AlgorithmParams()) {
    si4c::applyAlgorithmText(text.data(), text.size(), start);
    return start;
}

void expectDefaults(const AlgorithmParams& params) {
    EXPECT_EQ(params.temporalDepthLevel, 3);
    EXPECT_EQ(params.spatialDepthLevel, 3);
    EXPECT_EQ(params.temporalDepthMethod, 1);
    EXPECT_EQ(params.spatialDepthMethod, 1);
    EXPECT_EQ(params.temporalGrayLevel, 1);
    EXPECT_EQ(params.spatialGrayLevel, 1);
    EXPECT_EQ(params.temporalGrayMethod, 1);
    EXPECT_EQ(params.spatialGrayMethod, 1);
    EXPECT_EQ(params.repairLevel, 3);
    EXPECT_EQ(params.validDistMinMm, 0.0f);
    EXPECT_EQ(params.validDistMaxMm, 7000.0f);
    EXPECT_FLOAT_EQ(params.confidenceThreshold, 0.25f);
}

}  // namespace

TEST(AlgorithmConfig, DefaultsAndTheDefaultTextAgree) {
    expectDefaults(AlgorithmParams());
    AlgorithmParams zeroed;
    zeroed.temporalDepthLevel = zeroed.spatialDepthLevel = 0;
    zeroed.temporalGrayLevel = zeroed.spatialGrayLevel = zeroed.repairLevel = 0;
    zeroed.validDistMaxMm = 1.0f;
    expectDefaults(applied(phase_test::kDefaultAlgorithmText, zeroed));
}

TEST(AlgorithmConfig, EntriesOverlayKeyByKeyWithToleratedSpacingAndLineEnds) {
    const AlgorithmParams params = applied(
        "[DenoisingParams]\r\n  SDenoiseLevel_Depth = 0 \r\n\tTDenoiseMethod_Depth=0\n"
        "[ConfidenceParams]\nValidDistMin=250.5\nValidDistMax=3000\nConfidenceThreshold=0.6");
    EXPECT_EQ(params.spatialDepthLevel, 0);
    EXPECT_EQ(params.temporalDepthMethod, 0);
    EXPECT_EQ(params.validDistMinMm, 250.5f);
    EXPECT_EQ(params.validDistMaxMm, 3000.0f);
    EXPECT_FLOAT_EQ(params.confidenceThreshold, 0.6f);
    EXPECT_EQ(params.temporalDepthLevel, 3);  // absent: unchanged
}

TEST(AlgorithmConfig, MalformedOrOutOfRangeValuesLeaveTheParameterAlone) {
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    for (const std::string& text : {
             std::string("TDenoiseLevel_Depth=abc\nSDenoiseLevel_Depth=3x\nTDenoiseLevel_Gray=10\n"
                         "SDenoiseLevel_Gray=-1\nTDenoiseMethod_Gray=2\nValidDistMax=nan\n"
                         "ValidDistMin=-5\nConfidenceThreshold=1.5\nERDOLvl=\n=7\nno equals\n"
                         "//ValidDistMax=10\n#ValidDistMax=11\n;ValidDistMax=12\nUnknownKey=5\n"
                         "SDenoiseMethod_Depth=99999999999999999999\n"),
             // An inverted range returns both bounds to their defaults.
             std::string("ValidDistMin=5000\nValidDistMax=1000\n"),
             // A NUL breaks its line's value.
             junk + std::string("\nValidDistMax=4000\0TDenoiseLevel_Depth=1\n", 41)}) {
        expectDefaults(applied(text));
    }
}

TEST(AlgorithmConfigFile, FileIsReadMissingOrOversizedFileChangesNothing) {
    phase_test::TemporaryDirectory directory;
    const std::string path = directory.file("ConfigAlgorithm.json");
    AlgorithmParams params;
    params.spatialDepthLevel = 7;
    EXPECT_FALSE(si4c::applyAlgorithmFile(path, params));
    EXPECT_FALSE(si4c::applyAlgorithmFile(directory.path(), params));  // a directory
    EXPECT_EQ(params.spatialDepthLevel, 7);

    ASSERT_TRUE(phase_test::writeFile(path, "SDenoiseLevel_Depth=5\n"));
    EXPECT_TRUE(si4c::applyAlgorithmFile(path, params));
    EXPECT_EQ(params.spatialDepthLevel, 5);

    std::string huge = "SDenoiseLevel_Depth=1\n";
    huge.append(si4c::kMaxConfigBytes, '\n');
    ASSERT_TRUE(phase_test::writeFile(path, huge));
    EXPECT_FALSE(si4c::applyAlgorithmFile(path, params));
    EXPECT_EQ(params.spatialDepthLevel, 5);
}
