// The VGA device's controls, frame geometry and default frame rates.
#include "tests/vga/VgaDeviceFixture.h"

using namespace Quarvel;
using VgaControls = vga_test::VgaDeviceTest;
using Calls = std::vector<std::string>;

TEST_F(VgaControls, LayoutsDefaultRatesAndPrepareFollowTheGeometryAndTheLibrarysMode) {
    EXPECT_EQ(device->getDeviceType(), VGA);
    ASSERT_EQ(device->open(&sensor), 0);
    struct Case {
        int width, height, mode, rawLines, rate;
    };
    const Case cases[] = {{640, 480, 0, 2405, 41},
                          {640, 480, 1, 4810, 23},
                          {320, 240, 0, 1205, 61},
                          {320, 240, 1, 2410, 36}};
    for (const Case& c : cases) {
        ASSERT_EQ(device->setControl(CameraCtrl::FMT_WIDTH, c.width), 0);
        ASSERT_EQ(device->setControl(CameraCtrl::FMT_HEIGHT, c.height), 0);
        ASSERT_EQ(device->setControl(CameraCtrl::MODE, c.mode), 0);
        FrameLayout raw{-1, -1, -1};
        FrameLayout output{77, -1, -1};
        device->getFrameFormats(&raw, &output);
        EXPECT_EQ(raw.unit, 2);
        EXPECT_EQ(raw.width, c.width);
        EXPECT_EQ(raw.height, c.rawLines);
        EXPECT_EQ(output.unit, 77) << "the output unit is left as it was";
        EXPECT_EQ(output.width, c.width);
        EXPECT_EQ(output.height, c.height);
        int status = -1;
        EXPECT_EQ(readControl(CameraCtrl::FRAME_RATE, &status), c.rate);
        EXPECT_EQ(status, 0);
        // prepare sets the sensor's frame width, then its whole raw height.
        log.clear();
        EXPECT_EQ(device->prepare(), 0);
        EXPECT_EQ(log.only("sensor.setControl"),
                  (Calls{"sensor.setControl(1," + std::to_string(c.width) + ")",
                         "sensor.setControl(2," + std::to_string(c.rawLines) + ")"}));
        device->stop();
    }
    // No default rate for mixed geometries.
    for (auto size : {std::pair<int, int>{640, 240}, {320, 480}}) {
        device->setControl(CameraCtrl::FMT_WIDTH, size.first);
        device->setControl(CameraCtrl::FMT_HEIGHT, size.second);
        int status = -1;
        EXPECT_EQ(readControl(CameraCtrl::FRAME_RATE, &status), -12345);
        EXPECT_EQ(status, QuarvelInvalidParameter);
    }
}

TEST_F(VgaControls, WidthAndHeightAcceptOnlyTheSensorsFormats) {
    EXPECT_EQ(device->setControl(CameraCtrl::FMT_WIDTH, 800), QuarvelInvalidParameter);
    EXPECT_EQ(device->setControl(CameraCtrl::FMT_HEIGHT, 600), QuarvelInvalidParameter);
    EXPECT_EQ(device->setControl(CameraCtrl::FMT_HEIGHT, 320), QuarvelInvalidParameter);
    EXPECT_EQ(readControl(CameraCtrl::FMT_WIDTH), 640);
    EXPECT_EQ(readControl(CameraCtrl::FMT_HEIGHT), 480);
    EXPECT_EQ(device->setControl(CameraCtrl::FMT_WIDTH, 320), 0);
    EXPECT_EQ(device->setControl(CameraCtrl::FMT_HEIGHT, 240), 0);
    EXPECT_EQ(readControl(CameraCtrl::FMT_WIDTH), 320);
    EXPECT_EQ(readControl(CameraCtrl::FMT_HEIGHT), 240);
}

TEST_F(VgaControls, ModeLivesInTheLibraryAndRangeFollowsIt) {
    ASSERT_EQ(device->open(&sensor), 0);
    int status = -1;
    EXPECT_EQ(readControl(CameraCtrl::RANGE, &status), 1250);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readControl(CameraCtrl::MODE), 0);
    for (int mode : {2, 3, -1, 8}) {
        EXPECT_EQ(device->setControl(CameraCtrl::MODE, mode), QuarvelInvalidParameter) << mode;
    }
    EXPECT_EQ(library.calls(), Calls{"create"}) << "a refused mode never reaches the library";
    ASSERT_EQ(device->setControl(CameraCtrl::MODE, 1), 0);
    EXPECT_EQ(readControl(CameraCtrl::RANGE), 4500);
    EXPECT_EQ(readControl(CameraCtrl::MODE), 1);
    ASSERT_EQ(device->setControl(CameraCtrl::MODE, 0), 0);
    EXPECT_EQ(readControl(CameraCtrl::RANGE), 1250);
    EXPECT_EQ(library.calls(), (Calls{"create", "setSingleFreq 0", "setSingleFreq 1"}));
    library.singleFrequency.store(false);  // the device asks the library every time
    EXPECT_EQ(readControl(CameraCtrl::RANGE), 4500);
    EXPECT_EQ(device->setControl(CameraCtrl::RANGE, 4500), QuarvelInvalidParameter);
    EXPECT_EQ(device->setControl(CameraCtrl::RANGE, 1250), QuarvelInvalidParameter);
}

TEST_F(VgaControls, FrameModeExposureAndUnknownControlsAreNeverSet) {
    ASSERT_EQ(device->open(&sensor), 0);
    EXPECT_EQ(device->setControl(CameraCtrl::FRAME_MODE, 1), QuarvelNotImplemented);
    int status = 0;
    EXPECT_EQ(readControl(CameraCtrl::FRAME_MODE, &status), -12345);
    EXPECT_EQ(status, QuarvelNotImplemented);
    sensor.controls[static_cast<int>(CameraCtrl::EXPOSURE)] = 333;
    EXPECT_EQ(readControl(CameraCtrl::EXPOSURE, &status), 333);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readControl(CameraCtrl::SKIP_FRAME, &status), -12345);
    EXPECT_EQ(status, 1) << "the sensor's own answer";
    for (CameraCtrl ctrl :
         {CameraCtrl::EXPOSURE, CameraCtrl::SKIP_FRAME, CameraCtrl::SKIP_FRAME_LOOP,
          CameraCtrl::AUTO_FRAME_RATE, CameraCtrl::CONFIG_DIR_EXT, static_cast<CameraCtrl>(42)}) {
        EXPECT_EQ(device->setControl(ctrl, 5), QuarvelInvalidParameter);
    }
    EXPECT_TRUE(log.only("sensor.setControl").empty());
}

TEST_F(VgaControls, FrameRateCountsOnlyOnceTheSensorAcceptedIt) {
    ASSERT_EQ(device->open(&sensor), 0);
    sensor.frameRateResult = -2;
    EXPECT_EQ(device->setControl(CameraCtrl::FRAME_RATE, 30), -2);
    EXPECT_EQ(readControl(CameraCtrl::FRAME_RATE), 41);

    sensor.frameRateResult = 0;
    EXPECT_EQ(device->setControl(CameraCtrl::FRAME_RATE, 30), 0);
    EXPECT_EQ(log.only("sensor.setControl"), Calls{"sensor.setControl(6,30)"});
    EXPECT_EQ(readControl(CameraCtrl::FRAME_RATE), 30) << "now the sensor answers";

    // Never cleared, even by a later refusal.
    sensor.frameRateResult = 1;
    EXPECT_EQ(device->setControl(CameraCtrl::FRAME_RATE, 20), 1);
    EXPECT_EQ(readControl(CameraCtrl::FRAME_RATE), 30);
}

TEST_F(VgaControls, ConfigurationDirectoryIsTheOnlyTextControl) {
    const char* text = nullptr;
    ASSERT_EQ(device->getControlExt(CameraCtrl::CONFIG_DIR_EXT, &text), 0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    std::string source = "/opt/quarvel/config";
    ASSERT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, source.c_str()), 0);
    source[1] = 'X';  // the device keeps its own copy
    ASSERT_EQ(device->getControlExt(CameraCtrl::CONFIG_DIR_EXT, &text), 0);
    EXPECT_STREQ(text, "/opt/quarvel/config");
    EXPECT_EQ(device->setControlExt(CameraCtrl::RANGE, "x"), QuarvelInvalidParameter);
    EXPECT_EQ(device->setControlExt(CameraCtrl::CONFIG_DIR_EXT, nullptr), QuarvelInvalidParameter);
    EXPECT_EQ(device->getControlExt(CameraCtrl::MODE, &text), QuarvelInvalidParameter);
}
