// The simulated camera's text description: defaults, every key, and precise errors.
#include <gtest/gtest.h>

#include "sim/scene/SimulatedCameraConfig.h"

using namespace Quarvel::sim;

TEST(SimulatedCameraConfig, DefaultIsTheHqvgaSensorBeforeTheStandardScene) {
    SimulatedCameraConfig config;
    std::string error;
    ASSERT_TRUE(SimulatedCameraConfig::parse("", config, error));
    EXPECT_EQ(config.sensor, SensorModel::Hqvga);
    EXPECT_EQ(config.scene, SceneKind::Standard);
    EXPECT_EQ(config.bitWidth, 12);
    EXPECT_TRUE(config.noise);
    EXPECT_DOUBLE_EQ(config.framesPerSecond, 30.0);
    EXPECT_EQ(config.reportedWidth(), 240);
    EXPECT_EQ(config.reportedHeight(), 180);
    EXPECT_EQ(config.timing().subframesPerFrame, 4);
    EXPECT_FALSE(config.mixedPixels);
    EXPECT_EQ(config.imageGeometry().subpixelSamples, 1);
}

TEST(SimulatedCameraConfig, ReadsEveryKeyWithCommentsAndBlankLines) {
    const std::string text =
        "# a VGA camera\n"
        "sensor = vga\n"
        "\n"
        "vga_frequency=dual   # ten blocks\n"
        "scene = wall\n"
        "wall_distance_mm = 1500\n"
        "fps = 12.5\n"
        "bit_width = 14\n"
        "noise = off\n"
        "seed = 0x10\n"
        "signal = 2\n"
        "ambient = 0\n"
        "pacing = unthrottled\n"
        "mixed_pixels = on\n";
    SimulatedCameraConfig config;
    std::string error;
    ASSERT_TRUE(SimulatedCameraConfig::parse(text, config, error)) << error;
    EXPECT_EQ(config.sensor, SensorModel::Vga);
    EXPECT_EQ(config.vgaFrequency, VgaFrequencyMode::Dual);
    EXPECT_EQ(config.scene, SceneKind::Wall);
    EXPECT_DOUBLE_EQ(config.wallDistanceMm, 1500.0);
    EXPECT_DOUBLE_EQ(config.framesPerSecond, 12.5);
    EXPECT_EQ(config.bitWidth, 14);
    EXPECT_FALSE(config.noise);
    EXPECT_EQ(config.seed, 16u);
    EXPECT_DOUBLE_EQ(config.signalScale, 2.0);
    EXPECT_DOUBLE_EQ(config.ambientScale, 0.0);
    EXPECT_TRUE(config.unthrottled);
    EXPECT_FALSE(config.replay);
    EXPECT_EQ(config.reportedWidth(), 640);
    EXPECT_EQ(config.reportedHeight(), 4810);
    EXPECT_EQ(config.timing().subframesPerFrame, 1);
    EXPECT_FALSE(config.vgaParams().noise.enabled);
    EXPECT_EQ(config.vgaParams().noise.seed, 16u);
    EXPECT_TRUE(config.mixedPixels);
    EXPECT_EQ(config.imageGeometry().subpixelSamples, 4);
}

TEST(SimulatedCameraConfig, ReplayPacingIsUnthrottledWithTimestampsAsIfPaced) {
    SimulatedCameraConfig config;
    std::string error;
    ASSERT_TRUE(SimulatedCameraConfig::parse("pacing = replay\n", config, error)) << error;
    EXPECT_TRUE(config.replay);
    EXPECT_TRUE(config.unthrottled);
    EXPECT_TRUE(config.timing().unthrottled);
    ASSERT_TRUE(SimulatedCameraConfig::parse("pacing = realtime\n", config, error)) << error;
    EXPECT_FALSE(config.replay);
    EXPECT_FALSE(config.unthrottled);
}

TEST(SimulatedCameraConfig, ErrorsNameTheLineAndLeaveTheOutputAlone) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"sensor = hqvga\nsensr = vga\n", "line 2: unknown key 'sensr'"},
        {"fps = 61\n", "line 1: fps must be a number from 1 to 60"},
        {"fps = 30x\n", "line 1: fps must be"},
        {"bit_width = 11\n", "line 1: bit_width must be 8, 10, 12 or 14"},
        {"\n\nnoise yes\n", "line 3: expected 'key = value'"},
        {"seed = 1\nseed = 2\n", "line 2: 'seed' given twice"},
        {"seed = -1\n", "line 1: seed must be an unsigned integer"},
        {"sensor = qvga\n", "line 1: sensor must be hqvga or vga"},
        {"scene = forest\n", "line 1: scene must be standard, near or wall"},
        {"wall_distance_mm = 50\n", "line 1: wall_distance_mm must be"},
        {"pacing = fast\n", "line 1: pacing must be realtime, unthrottled or replay"},
        {"mixed_pixels = yes\n", "line 1: mixed_pixels must be on or off"},
    };
    for (const Case& c : cases) {
        SimulatedCameraConfig config;
        config.seed = 1234;
        std::string error;
        EXPECT_FALSE(SimulatedCameraConfig::parse(c.text, config, error)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(config.seed, 1234u);
    }
}
