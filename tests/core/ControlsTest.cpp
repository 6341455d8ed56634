// Camera controls: the ones the camera keeps, the frame-rate bound, forwarding.
#include <gtest/gtest.h>

#include <thread>

#include "core/QuarvelTOFCamera.h"
#include "tests/support/ScriptedComponents.h"

using namespace Quarvel;
using support::CallLog;
using support::ScriptedComponents;

namespace {
struct Rig : support::CameraRig {
    QuarvelTOFCamera& camera;
    Rig() : camera(*CameraRig::camera) { EXPECT_EQ(openUsb(), 0); }
};
}  // namespace

TEST(ControlsFrameRate, BoundedByTheDevicesCurrentValue) {
    Rig rig;
    rig.device().frameRate = 30;
    rig.device().setControlResult = 9;
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::FRAME_RATE, 0), 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::FRAME_RATE, 31), 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::FRAME_RATE, 30), 9);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::FRAME_RATE, 1), 9);
    rig.device().frameRateResult = 4;
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::FRAME_RATE, 10), 4);
    rig.device().frameRateResult = 0;
    rig.device().frameRate = 0;
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::FRAME_RATE, 1), 1);
}

TEST(ControlsKeptByCamera, AutoFrameRateSkipAndLoop) {
    Rig rig;
    int value = -1;
    ASSERT_EQ(rig.camera.getControl(CameraCtrl::AUTO_FRAME_RATE, &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::AUTO_FRAME_RATE, 5), 0);
    rig.camera.getControl(CameraCtrl::AUTO_FRAME_RATE, &value);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::AUTO_FRAME_RATE, 0), 0);
    rig.camera.getControl(CameraCtrl::AUTO_FRAME_RATE, &value);
    EXPECT_EQ(value, 0);

    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME_LOOP, 3), 0);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME, 1), 0);
    ASSERT_EQ(rig.camera.getControl(CameraCtrl::SKIP_FRAME, &value), 0);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(rig.camera.getControl(CameraCtrl::SKIP_FRAME_LOOP, &value), 0);
    EXPECT_EQ(value, 3);
    // None of these reached the device.
    EXPECT_TRUE(rig.device().setCalls.empty());
}

TEST(ControlsKeptByCamera, SkipValuesStayWhereTheRuleIsDefined) {
    Rig rig;
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME_LOOP, 0), 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME_LOOP, 256), 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME_LOOP, -3), 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME_LOOP, 255), 0);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME, 256), 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME, -1), 1);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME, 255), 0);
    // A loop shorter than the frames it should drop is refused.
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::SKIP_FRAME_LOOP, 4), 1);
    int value = 0;
    rig.camera.getControl(CameraCtrl::SKIP_FRAME_LOOP, &value);
    EXPECT_EQ(value, 255);
}

TEST(ControlsForwarded, DeviceResultsPassThroughUnchanged) {
    Rig rig;
    rig.device().setControlResult = 17;
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::RANGE, 2000), 17);
    EXPECT_EQ(rig.camera.setControl(CameraCtrl::EXPOSURE, 100), 17);
    EXPECT_EQ(rig.camera.setControl(static_cast<CameraCtrl>(77), 1), 17);
    rig.components.lastSensor->controls[static_cast<int>(CameraCtrl::EXPOSURE)] = 250;
    int value = 0;
    EXPECT_EQ(rig.camera.getControl(CameraCtrl::EXPOSURE, &value), 0);
    EXPECT_EQ(value, 250);
    value = 5;
    EXPECT_EQ(rig.camera.getControl(CameraCtrl::MODE, &value), 1);  // the sensor does not know it
    EXPECT_EQ(value, 5);

    EXPECT_EQ(rig.camera.setControlExt(CameraCtrl::CONFIG_DIR_EXT, "/tmp/config"), 0);
    const char* text = nullptr;
    EXPECT_EQ(rig.camera.getControlExt(CameraCtrl::CONFIG_DIR_EXT, &text), 0);
    EXPECT_STREQ(text, "scripted");
    EXPECT_EQ(rig.log.only("device1.getControlExt").size(), 1u);
}

TEST(ControlsForwarded, CallsFromBothThreadsNeverOverlapInTheDevice) {
    // The capture thread adapts the frame rate every three seconds while the user keeps
    // calling controls; the device must never see two calls at once.
    CallLog log;
    ScriptedComponents components(log);
    components.configureSensor = [](support::ScriptedSensor& s) {
        s.frameDelay = std::chrono::microseconds(500);
    };
    QuarvelTOFCamera camera(components, "/nonexistent/model");
    ASSERT_EQ(camera.open(Connection::USB, 0), 0);
    ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
    // Calls go on until the adaptation, a little over three seconds in, has called the
    // device too, and a while longer for the setControl that may follow its getControl.
    support::ScriptedDevice& device = *components.lastDevice;
    const auto limit = std::chrono::steady_clock::now() + support::kConditionLimit;
    auto until = limit;
    int calls = 0;
    while (std::chrono::steady_clock::now() < until) {
        int value = 0;
        camera.getControl(CameraCtrl::FRAME_RATE, &value);
        camera.setControl(CameraCtrl::FRAME_RATE, 1 + calls++ % 30);
        if (until == limit && device.controlThreadCount() == 2) {
            until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        }
    }
    EXPECT_EQ(camera.stop(), 0);
    // The adaptation ran: the capture thread made control calls too.
    EXPECT_EQ(device.controlThreadCount(), 2u);
    EXPECT_FALSE(device.controlCallsOverlapped.load());
}
