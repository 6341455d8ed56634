// Camera lifecycle against scripted components: call order, failures, and safe teardown.
#include <gtest/gtest.h>

#include <system_error>

#include "core/QuarvelTOFCamera.h"
#include "tests/support/ScriptedComponents.h"

using namespace Quarvel;
using support::CallLog;
using support::ScriptedComponents;
using Strings = std::vector<std::string>;

using Rig = support::CameraRig;

TEST(CameraOpen, ChoosesTheDeviceByFrameSize) {
    const std::tuple<uint32_t, uint32_t, int, int> cases[] = {
        {240, 180, HQVGA, 4}, {240, 181, VGA, 1}, {640, 480, VGA, 1}, {320, 240, VGA, 1}};
    for (const auto& [width, height, type, subframes] : cases) {
        Rig rig;
        rig.components.configureSensor = [w = width, h = height](support::ScriptedSensor& s) {
            s.width = w;
            s.height = h;
        };
        ASSERT_EQ(rig.camera->open(Connection::CSI, 3), 0);
        EXPECT_EQ(rig.camera->getCameraInfo().device_type, static_cast<DeviceType>(type));
        EXPECT_EQ(rig.components.lastSensor->subframeCount, subframes) << width << "x" << height;
        EXPECT_EQ(rig.components.creations.front(), "path:/dev/video3");
        EXPECT_EQ(rig.log.entries(), (Strings{"sensor1.open", "device1.open"}));
    }
}

TEST(CameraOpen, RecordsIndexAndConnectionEvenWhenTheSensorFails) {
    Rig rig;
    rig.components.configureSensor = [](support::ScriptedSensor& s) { s.openResult = -2; };
    EXPECT_EQ(rig.camera->open(Connection::USB, 2), -2);
    EXPECT_EQ(rig.camera->getCameraInfo().index, 2u);
    EXPECT_EQ(rig.camera->getCameraInfo().connect, Connection::USB);
    EXPECT_EQ(rig.components.creations.front(), "config:");
    // No device: everything that needs one refuses without touching it.
    EXPECT_EQ(rig.camera->start(FrameType::DEPTH), -1);
    int value = 0;
    EXPECT_EQ(rig.camera->setControl(CameraCtrl::RANGE, 2000), -1);
    EXPECT_EQ(rig.camera->getControl(CameraCtrl::RANGE, &value), -1);
}

TEST(CameraOpen, RejectsUnknownConnectionsAndNullPaths) {
    Rig rig;
    EXPECT_EQ(rig.camera->open(static_cast<Connection>(7), 5), -1);
    EXPECT_EQ(rig.camera->getCameraInfo().index, 5u);
    EXPECT_EQ(rig.camera->openWithFile(nullptr, 1), -1);
    EXPECT_TRUE(rig.components.creations.empty());
    ASSERT_EQ(rig.camera->openWithFile("camera.ini", 4), 0);
    EXPECT_EQ(rig.components.creations.front(), "config:camera.ini");
    EXPECT_EQ(rig.camera->getCameraInfo().connect, Connection::USB);
}

TEST(CameraOpen, SecondOpenClosesAndDestroysTheFirstComponents) {
    Rig rig;
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    rig.log.clear();
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    EXPECT_EQ(rig.log.entries(), (Strings{"device1.close", "device1.destroy", "sensor1.close",
                                          "sensor1.destroy", "sensor2.open", "device2.open"}));
}

TEST(CameraOpen, FailedSecondOpenLeavesNoDeviceBoundToADeadSensor) {
    Rig rig;
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    rig.components.configureSensor = [](support::ScriptedSensor& s) { s.openResult = -1; };
    EXPECT_EQ(rig.camera->open(Connection::USB, 0), -1);
    EXPECT_EQ(rig.log.only("device1"), (Strings{"device1.open", "device1.close", "device1.destroy"}));
    int value = 0;
    EXPECT_EQ(rig.camera->getControl(CameraCtrl::EXPOSURE, &value), -1);
    // The failed sensor keeps what it opened until close.
    EXPECT_EQ(rig.camera->close(), 0);
    EXPECT_EQ(rig.components.lastSensor->closeCount, 1);
}

TEST(CameraStart, CallsComponentsInOrderAndStopsAndClosesCleanly) {
    Rig rig;
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    rig.log.clear();
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    EXPECT_EQ(rig.log.entries(),
              (Strings{"device1.getControl(0)", "device1.setControl(0,4000)", "device1.prepare",
                       "sensor1.start", "device1.start", "device1.getFrameFormats"}));
    EXPECT_EQ(rig.camera->getCameraInfo().type, FrameType::DEPTH);
    EXPECT_EQ(rig.camera->start(FrameType::RAW), -1);  // already streaming
    EXPECT_EQ(rig.camera->getCameraInfo().type, FrameType::DEPTH);
    rig.log.clear();
    EXPECT_EQ(rig.camera->stop(), 0);
    EXPECT_EQ(rig.log.entries(), (Strings{"device1.stop", "sensor1.stop"}));
    rig.log.clear();
    EXPECT_EQ(rig.camera->close(), 0);  // stopped: no second stop
    EXPECT_EQ(rig.log.entries(), (Strings{"device1.close", "sensor1.close"}));
}

TEST(CameraStart, FailingStepsReturnTheirStatusAndLeaveNoThread) {
    struct Case {
        const char* what;
        std::function<void(support::ScriptedSensor&)> sensor;
        std::function<void(support::ScriptedDevice&)> device;
        int expected;
    };
    const Case cases[] = {
        {"prepare", [](auto&) {}, [](auto& d) { d.prepareResult = 7; }, 7},
        {"sensor start", [](auto& s) { s.startResult = -2; }, [](auto&) {}, -2},
        {"device start", [](auto&) {}, [](auto& d) { d.startResult = -1; }, -1},
        {"raw layout larger than the sensor frame", [](auto&) {},
         [](auto& d) { d.rawLayout = {2, 240, 721}; }, -1},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.components.configureSensor = c.sensor;
        rig.components.configureDevice = c.device;
        ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
        EXPECT_EQ(rig.camera->start(FrameType::DEPTH), c.expected) << c.what;
        EXPECT_EQ(rig.camera->requestFrame(0), nullptr);
        EXPECT_THROW(rig.camera->stop(), std::system_error) << c.what;
    }
}

TEST(CameraStart, OutputTypeWithoutProcessingIsRefusedAfterTheComponentSteps) {
    Rig rig;
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    rig.log.clear();
    EXPECT_EQ(rig.camera->start(FrameType::CONFIDENCE), -1);
    EXPECT_EQ(rig.camera->getCameraInfo().type, FrameType::CONFIDENCE);
    EXPECT_EQ(rig.log.only("sensor1"), (Strings{"sensor1.start"}));
    EXPECT_EQ(rig.log.only("device1.start"), (Strings{"device1.start"}));
    EXPECT_THROW(rig.camera->stop(), std::system_error);
    EXPECT_EQ(rig.camera->start(static_cast<FrameType>(3)), -1);
}

TEST(CameraStart, InfoFollowsTheSensorAfterPrepare) {
    Rig rig;
    rig.components.configureSensor = [](support::ScriptedSensor& s) {
        s.width = 640;
        s.height = 480;
    };
    ASSERT_EQ(rig.camera->open(Connection::CSI, 0), 0);
    rig.components.lastSensor->height = 2405;  // as a device's prepare would set it
    rig.components.lastDevice->rawLayout = {2, 640, 2405};
    rig.components.lastDevice->outputLayout = {2, 640, 480};
    ASSERT_EQ(rig.camera->start(FrameType::RAW), 0);
    const CameraInfo info = rig.camera->getCameraInfo();
    EXPECT_EQ(info.width, 640u);
    EXPECT_EQ(info.height, 2405u);
    EXPECT_EQ(info.type, FrameType::RAW);
    rig.camera->stop();
}

namespace {

// Opens a scripted 240x180 camera (4 sub-frames), then lets the sensor report a frame of
// width x height and the device a raw layout of nothing, so that only the sizes decide.
int startWithSensorFrame(uint32_t width, uint32_t height) {
    Rig rig;
    EXPECT_EQ(rig.camera->open(Connection::CSI, 0), 0);
    rig.components.lastSensor->width = width;
    rig.components.lastSensor->height = height;
    rig.components.lastDevice->rawLayout = {2, 0, 0};
    const int status = rig.camera->start(FrameType::RAW);
    if (status == 0) rig.camera->stop();
    return status;
}

}  // namespace

TEST(CameraStart, ACacheLineCountThatWraps32BitsIsRefused) {
    // 2^30 lines x 4 sub-frames is 2^32: a 32-bit line count would wrap to an empty cache.
    EXPECT_EQ(startWithSensorFrame(240, 1u << 30), -1);
    EXPECT_EQ(startWithSensorFrame(240, 180), 0);
}

TEST(CameraStart, ACacheLargerThanSizeTHoldsIsRefused) {
    if (sizeof(size_t) > 4) {
        GTEST_SKIP() << "size_t has 64 bits here: such a cache is an ordinary (huge) allocation";
    }
    // 65536 x 16384 x 4 sub-frames x 2 bytes is 8 GiB; in a 32-bit size_t the cache's byte
    // count wraps to 0 while the sensor still fills 65536 x 65536 samples.
    EXPECT_EQ(startWithSensorFrame(65536, 16384), -1);
}

TEST(CameraTeardown, StopWithoutThreadRaisesAndCloseDoesNot) {
    Rig rig;
    EXPECT_EQ(rig.camera->close(), -1);  // never opened
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    EXPECT_THROW(rig.camera->stop(), std::system_error);
    EXPECT_TRUE(rig.log.only("sensor1.stop").empty());
    EXPECT_EQ(rig.camera->close(), 0);
    EXPECT_EQ(rig.camera->close(), 0);  // again: harmless
}

TEST(CameraTeardown, DestroyingAStreamingCameraStopsAndClosesFirst) {
    Rig rig;
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    ASSERT_TRUE(support::eventually([&] { return rig.components.lastSensor->framesRead > 2; }));
    rig.log.clear();
    rig.camera.reset();
    EXPECT_EQ(rig.log.entries(), (Strings{"device1.stop", "sensor1.stop", "device1.close",
                                          "sensor1.close", "device1.destroy", "sensor1.destroy"}));
}

TEST(CameraTeardown, DestroyingAnOpenedCameraClosesIt) {
    Rig rig;
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    rig.log.clear();
    rig.camera.reset();
    EXPECT_EQ(rig.log.entries(),
              (Strings{"device1.close", "sensor1.close", "device1.destroy", "sensor1.destroy"}));
}

TEST(CameraTeardown, OpenOnAStreamingCameraStopsTheStreamFirst) {
    Rig rig;
    ASSERT_EQ(rig.camera->open(Connection::USB, 0), 0);
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    rig.log.clear();
    ASSERT_EQ(rig.camera->openWithFile("other.ini", 0), 0);
    const Strings entries = rig.log.entries();
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(Strings(entries.begin(), entries.begin() + 4),
              (Strings{"device1.stop", "sensor1.stop", "device1.close", "device1.destroy"}));
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    EXPECT_NE(rig.camera->requestFrame(support::kFrameArrivalMs), nullptr);
}
