// Reading "ConfigAlgorithm.json": defaults, overlays, and every kind of malformed input.
#include <gtest/gtest.h>

#include <string>

#include "sdk/phase/src/AlgorithmConfig.h"
#include "tests/phase/PhaseTestSupport.h"

using si4c::AlgorithmParams;

namespace {

// The text the camera writes at every start, as the library receives it.
const std::string kDefaultText =
    "[DenoisingParams]\nTDenoiseLevel_Depth=3\nSDenoiseLevel_Depth=3\nTDenoiseMethod_Depth=1\n"
    "SDenoiseMethod_Depth=1\nTDenoiseLevel_Gray=1\nSDenoiseLevel_Gray=1\nTDenoiseMethod_Gray=1\n"
    "SDenoiseMethod_Gray=1\n\n[RepairParams]\nERDOLvl=3\n\n[ConfidenceParams]\nValidDistMin=0\n"
    "ValidDistMax=7000\n";

AlgorithmParams applied(const std::string& text, AlgorithmParams start = AlgorithmParams()) {
    si4c::applyAlgorithmText(text.data(), text.size(), start);
    return start;
}

void expectDefaults(const AlgorithmParams& params) {
    const AlgorithmParams defaults;
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
    EXPECT_EQ(params.confidenceThreshold, defaults.confidenceThreshold);
}

}  // namespace

TEST(AlgorithmConfig, DefaultTextGivesTheDocumentedDefaults) {
    AlgorithmParams zeroed;
    zeroed.temporalDepthLevel = zeroed.spatialDepthLevel = 0;
    zeroed.temporalGrayLevel = zeroed.spatialGrayLevel = 0;
    zeroed.validDistMaxMm = 1.0f;
    AlgorithmParams params = applied(kDefaultText, zeroed);
    EXPECT_EQ(params.temporalDepthLevel, 3);
    EXPECT_EQ(params.spatialDepthLevel, 3);
    EXPECT_EQ(params.temporalGrayLevel, 1);
    EXPECT_EQ(params.spatialGrayLevel, 1);
    EXPECT_EQ(params.validDistMaxMm, 7000.0f);
    expectDefaults(AlgorithmParams());
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
    const AlgorithmParams params = applied(
        "TDenoiseLevel_Depth=abc\nSDenoiseLevel_Depth=3x\nTDenoiseLevel_Gray=10\n"
        "SDenoiseLevel_Gray=-1\nTDenoiseMethod_Gray=2\nValidDistMax=nan\nValidDistMin=-5\n"
        "ConfidenceThreshold=1.5\nERDOLvl=\n=7\nno equals sign here\n//ValidDistMax=10\n"
        "#ValidDistMax=11\n;ValidDistMax=12\nUnknownKey=5\n"
        "SDenoiseMethod_Depth=99999999999999999999\n");
    expectDefaults(params);
}

TEST(AlgorithmConfig, InvertedDistanceRangeFallsBackToTheDefaultRange) {
    const AlgorithmParams params = applied("ValidDistMin=5000\nValidDistMax=1000\n");
    EXPECT_EQ(params.validDistMinMm, 0.0f);
    EXPECT_EQ(params.validDistMaxMm, 7000.0f);
}

TEST(AlgorithmConfig, BinaryJunkAndEmbeddedNulsDoNoHarm) {
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    junk += std::string("\nValidDistMax=4000\0TDenoiseLevel_Depth=1\n", 41);
    const AlgorithmParams params = applied(junk);
    EXPECT_EQ(params.temporalDepthLevel, 3);  // the NUL broke that line's value
    EXPECT_EQ(params.validDistMaxMm, 7000.0f);
}

TEST(AlgorithmConfigFile, MissingFileIsReportedAndChangesNothing) {
    phase_test::TemporaryDirectory directory;
    AlgorithmParams params;
    params.spatialDepthLevel = 7;
    EXPECT_FALSE(si4c::applyAlgorithmFile(directory.file("ConfigAlgorithm.json"), params));
    EXPECT_FALSE(si4c::applyAlgorithmFile(directory.path(), params));  // a directory
    EXPECT_EQ(params.spatialDepthLevel, 7);
}

TEST(AlgorithmConfigFile, FileIsReadAndOversizedFileIgnored) {
    phase_test::TemporaryDirectory directory;
    const std::string path = directory.file("ConfigAlgorithm.json");
    ASSERT_TRUE(phase_test::writeFile(path, "SDenoiseLevel_Depth=5\n"));
    AlgorithmParams params;
    EXPECT_TRUE(si4c::applyAlgorithmFile(path, params));
    EXPECT_EQ(params.spatialDepthLevel, 5);

    std::string huge = "SDenoiseLevel_Depth=1\n";
    huge.append(si4c::kMaxConfigBytes, '\n');
    ASSERT_TRUE(phase_test::writeFile(path, huge));
    EXPECT_FALSE(si4c::applyAlgorithmFile(path, params));
    EXPECT_EQ(params.spatialDepthLevel, 5);
}
