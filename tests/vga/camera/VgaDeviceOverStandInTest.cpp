// The VGA device over the linked stand-in phase library: calibration files as they come.
#include <gtest/gtest.h>

#include <chrono>

#include "device/QuarvelDeviceVGA.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/support/ScriptedComponents.h"

using namespace Quarvel;

TEST(VgaDeviceOverStandIn, OnlyAValidCalibrationFileShiftsTheDepth) {
    phase_test::TemporaryDirectory directory;
    phase_test::ScopedWorkingDirectory inDirectory{directory.path()};
    support::CallLog log;
    support::ScriptedSensor sensor{"sensor", log};
    phase_test::SyntheticScene wall;  // 1000 mm everywhere
    const auto frame = phase_test::synthesiseFrame(wall, phase_test::SynthesisOptions());
    auto offset25 = [](int table, int, int) { return table == 0 ? 25.0f : 0.0f; };
    const auto valid = phase_test::calibrationFile(640, 480, offset25);
    std::vector<uint8_t> truncated(valid.begin(), valid.end() - 4);
    std::vector<uint8_t> wrongMagic = valid;
    wrongMagic[0] = 'X';
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        double depthMm;
    };
    const Case cases[] = {{"missing", {}, 1000.0},
                          {"valid", valid, 975.0},
                          {"empty", {}, 1000.0},
                          {"truncated", truncated, 1000.0},
                          {"wrong magic", wrongMagic, 1000.0},
                          {"other sensor", phase_test::calibrationFile(320, 240, offset25), 1000.0},
                          {"garbage", std::vector<uint8_t>(4096, 0xEE), 1000.0}};
    for (const Case& c : cases) {
        if (std::string(c.what) != "missing") {
            ASSERT_TRUE(phase_test::writeFile(directory.file("cali.bin"), c.bytes));
        }
        QuarvelDeviceVGA device(BOARD_UNKNOWN, 640, 480, si4cLibrary(),
                                [](std::chrono::milliseconds) {});
        ASSERT_EQ(device.open(&sensor), 0);
        ASSERT_EQ(device.prepare(), 0);
        ASSERT_EQ(device.start(), 0) << c.what;
        std::vector<float> depth(640 * 480), amplitude(depth.size()), confidence(depth.size());
        EXPECT_TRUE(
            device.getPhaseImage(frame.data(), depth.data(), amplitude.data(), confidence.data()));
        EXPECT_NEAR(depth[240 * 640 + 320], c.depthMm, 0.5) << c.what;
        device.close();
    }
}
