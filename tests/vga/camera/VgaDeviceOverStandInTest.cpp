// The VGA device over the linked stand-in phase library: calibration files as they come.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "device/QuarvelDeviceVGA.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/support/ScriptedComponents.h"

using namespace Quarvel;
using phase_test::writeFile;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kWallMm = 1000.0;

class VgaDeviceOverStandIn : public ::testing::Test {
protected:
    VgaDeviceOverStandIn() {
        phase_test::SyntheticScene scene;
        scene.distanceMm = [](int, int) { return kWallMm; };
        frame = phase_test::synthesiseFrame(scene, phase_test::SynthesisOptions());
    }

    // Depth at the centre after a start with whatever "cali.bin" the directory holds.
    float centreDepthAfterStart() {
        QuarvelDeviceVGA device(BOARD_UNKNOWN, kWidth, kHeight, si4cLibrary(),
                                [](std::chrono::milliseconds) {});
        EXPECT_EQ(device.open(&sensor), 0);
        EXPECT_EQ(device.prepare(), 0);
        EXPECT_EQ(device.start(), 0);
        std::vector<float> depth(kWidth * kHeight), amplitude(depth.size()),
            confidence(depth.size());
        EXPECT_TRUE(
            device.getPhaseImage(frame.data(), depth.data(), amplitude.data(), confidence.data()));
        device.close();
        return depth[240 * kWidth + 320];
    }

    std::vector<uint8_t> validCalibration() {
        return phase_test::calibrationFile(
            kWidth, kHeight, [](int table, int, int) { return table == 0 ? 25.0f : 0.0f; });
    }

    phase_test::TemporaryDirectory directory;
    phase_test::ScopedWorkingDirectory inDirectory{directory.path()};
    support::CallLog log;
    support::ScriptedSensor sensor{"sensor", log};
    std::vector<uint8_t> frame;
};

}  // namespace

TEST_F(VgaDeviceOverStandIn, ValidCalibrationShiftsTheDepth) {
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), validCalibration()));
    EXPECT_NEAR(centreDepthAfterStart(), kWallMm - 25.0, 0.5);
}

TEST_F(VgaDeviceOverStandIn, MissingOrEmptyCalibrationLeavesDepthAlone) {
    EXPECT_NEAR(centreDepthAfterStart(), kWallMm, 0.5);
    ASSERT_TRUE(writeFile(directory.file("cali.bin"), ""));
    EXPECT_NEAR(centreDepthAfterStart(), kWallMm, 0.5);
}

TEST_F(VgaDeviceOverStandIn, MalformedCalibrationIsIgnoredAndTheStreamStillStarts) {
    std::vector<uint8_t> truncated = validCalibration();
    truncated.resize(truncated.size() - 4);
    std::vector<uint8_t> wrongMagic = validCalibration();
    wrongMagic[0] = 'X';
    std::vector<uint8_t> otherSensor =
        phase_test::calibrationFile(320, 240, [](int, int, int) { return 25.0f; });
    std::vector<uint8_t> garbage(4096, 0xEE);
    for (const auto* bytes : {&truncated, &wrongMagic, &otherSensor, &garbage}) {
        ASSERT_TRUE(writeFile(directory.file("cali.bin"), *bytes));
        EXPECT_NEAR(centreDepthAfterStart(), kWallMm, 0.5) << bytes->size() << " bytes";
    }
}
