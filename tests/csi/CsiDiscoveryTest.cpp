// CSI open: discovery per board (media graph, Jetson sysfs name), bus lookup, and what open
// leaves behind and prints when it fails.
#include <gtest/gtest.h>
#include <linux/i2c.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>

#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::OpenSensor;
using sim::BoardKind;
using sim::SimBoard;

namespace {

const char* kNoBus = "Error: I2C bus name doesn't match any bus present!\n";

}  // namespace

TEST(CsiDiscovery, EveryBoardFindsItsSensorBusAndOpensIt) {
    const struct {
        BoardKind kind;
        const char* bus;
        int subdevices;
        int sensorIndex;
        uint32_t bufferType;
        int inputSelections;
    } expectations[] = {
        {BoardKind::RaspberryPi4, "10", 1, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE, 1},
        {BoardKind::RaspberryPi5, "4", 2, 1, V4L2_BUF_TYPE_VIDEO_CAPTURE, 1},
        {BoardKind::JetsonNano, "6", 0, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE, 1},
        {BoardKind::JetsonTx1, "6", 0, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE, 1},
        {BoardKind::JetsonXavierNx, "30", 0, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE, 1},
        {BoardKind::JetsonAgxOrin, "30", 0, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE, 1},
        {BoardKind::RadxaRock5b, "7", 2, 1, V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE, 0},
    };
    for (const auto& expected : expectations) {
        SCOPED_TRACE(SimBoard::nameOf(expected.kind));
        OpenSensor open(SimBoard::of(expected.kind));
        ASSERT_EQ(open.openResult, 0) << open.message;
        EXPECT_EQ(open.message, "");
        EXPECT_STREQ(open.sensor->busName(), expected.bus);
        EXPECT_TRUE(open.isOpen(std::string("/dev/i2c-") + expected.bus));
        EXPECT_EQ(open.sensor->subdeviceCount(), expected.subdevices);
        EXPECT_EQ(open.sensor->sensorSubdeviceIndex(), expected.sensorIndex);
        EXPECT_EQ(open.sensor->streamBufferType(), expected.bufferType);
        EXPECT_EQ(open.calls(sim::Call::Ioctl, VIDIOC_S_INPUT), expected.inputSelections);
        // Video node, the recorded subdevices and the bus; the media node only during the walk.
        EXPECT_EQ(open.kernel().openDescriptorCount(), 2 + expected.subdevices);
        EXPECT_FALSE(open.isOpen("/dev/media0"));
        EXPECT_EQ(open.sensor->close(), 0);
        EXPECT_EQ(open.kernel().openDescriptorCount(), 0);
    }
}

TEST(CsiDiscovery, RaspberryPi5EnablesTheReceiverLinkAndRecordsOnlyABridgeBeforeTheSensor) {
    {
        auto builder = SimBoard::raspberryPi5();
        OpenSensor open(builder);
        ASSERT_EQ(open.openResult, 0);
        EXPECT_TRUE(open.board->media()->linkEnabled("csi2", 4, "rp1-cfe-csi2_ch0", 0));
        EXPECT_STREQ(open.sensor->mediaNodePath(), "/dev/media0");
        EXPECT_TRUE(open.isOpen("/dev/v4l-subdev1"));
    }
    EXPECT_FALSE(SimBoard::raspberryPi5().build()->media()->linkEnabled("csi2", 4,
                                                                        "rp1-cfe-csi2_ch0", 0));
    OpenSensor sensorFirst(SimBoard::raspberryPi5().sensorBeforeBridge());
    ASSERT_EQ(sensorFirst.openResult, 0);
    EXPECT_EQ(sensorFirst.sensor->subdeviceCount(), 1);
    EXPECT_EQ(sensorFirst.sensor->sensorSubdeviceIndex(), 0);
    EXPECT_FALSE(sensorFirst.isOpen("/dev/v4l-subdev1"));
}

TEST(CsiDiscovery, TheMediaEntryListedLastThatOpensIsUsed) {
    OpenSensor last(SimBoard::raspberryPi4().mediaEntries({"media0", "media1"}, "media1"));
    ASSERT_EQ(last.openResult, 0);
    EXPECT_STREQ(last.sensor->mediaNodePath(), "/dev/media1");
    const auto trace = last.kernel().trace();
    EXPECT_TRUE(std::none_of(trace.begin(), trace.end(), [](const sim::CallRecord& r) {
        return r.call == sim::Call::Open && r.path == "/dev/media0";
    }));

    // The sensor's graph is on media0, media1 refuses to open: media0 is used.
    auto board = SimBoard::raspberryPi4().mediaEntries({"media0", "media1"}, "media0").build();
    board->kernel().denyAccess("/dev/media1");
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    EXPECT_STREQ(sensor.mediaNodePath(), "/dev/media0");
}

TEST(CsiDiscovery, BusNameComesFromTheSensorEntityOrTheJetsonNodeName) {
    const struct {
        sim::SimBoardBuilder builder;
        int result;
        const char* bus;
    } cases[] = {
        {SimBoard::raspberryPi4().sensorEntityName("quarvel-vantorix 10-000c"), 0, "10"},
        // Only bus 10 exists on this board.
        {SimBoard::raspberryPi4().sensorEntityName("quarvel-vantorix 4-000c"), -2, "4"},
        {SimBoard::raspberryPi4().sensorEntityName("quarvel-vantorix"), -2, ""},
        {SimBoard::jetsonXavierNx().jetsonNodeName("vi-output, quarvel 30-000c"), 0, "30"},
        {SimBoard::jetsonXavierNx().jetsonNodeName("vi-output, quarvel-tof 30-000c"), 0, "30"},
        // At most 7 digits fit.
        {SimBoard::jetsonXavierNx().jetsonNodeName("vi-output, quarvel 123456789-000c"), -2,
         "1234567"},
        // The scan stops at the end of the line.
        {SimBoard::jetsonXavierNx().jetsonNodeName("vi-output, quarvel"), -2, ""},
        {SimBoard::jetsonXavierNx().jetsonNodeName("vi-output, quarvel\nsecond 30"), -2, ""},
        {SimBoard::jetsonXavierNx().jetsonNodeName("vi-output, quarvel abc"), -2, ""},
        {SimBoard::jetsonNano().jetsonNodeName("vi-output, imx219 6-0010"), -2, ""},
    };
    for (const auto& entry : cases) {
        OpenSensor open(entry.builder);
        SCOPED_TRACE(entry.bus);
        EXPECT_EQ(open.openResult, entry.result) << open.message;
        EXPECT_STREQ(open.sensor->busName(), entry.bus);
        EXPECT_EQ(open.sensor->close(), 0);
        EXPECT_EQ(open.kernel().openDescriptorCount(), 0);
    }
}

// Each way open can fail: -2, the message of the failure, and nothing left open.
TEST(CsiOpen, EveryFailureReturnsSystemErrorWithItsMessageAndLeavesNothingOpen) {
    struct Case {
        const char* what;
        sim::SimBoardBuilder builder;
        std::function<void(sim::SimKernel&)> arrange;
        const char* message;
        const char* videoPath = "/dev/video0";
        int model = -1;
    };
    const auto fault = [](unsigned long request, int error, int times) {
        return [=](sim::SimKernel& kernel) {
            kernel.addFault({sim::Call::Ioctl, request, "", error, times});
        };
    };
    const auto nothing = [](sim::SimKernel&) {};
    const Case cases[] = {
        {"no space in the entity name", SimBoard::raspberryPi4().sensorEntityName("quarvel"),
         nothing, kNoBus},
        // Four bridges ahead of the sensor fill the table; the sensor would be the fifth.
        {"fifth subdevice", SimBoard::raspberryPi5().extraBridges(3), nothing, kNoBus},
        // No sensor found, so no bus name: an adapter listed without a name is not the
        // sensor's bus (the bridge recorded before would have answered for the sensor).
        {"no sensor, an adapter with an empty name",
         SimBoard::raspberryPi5().sensorEntityName("quarvel"),
         [](sim::SimKernel& kernel) {
             kernel.addFile("/proc/bus/i2c",
                            "i2c-4\ti2c       \t                                \tI2C adapter\n");
         },
         kNoBus},
        {"unknown board", SimBoard::raspberryPi4(), nothing, kNoBus, "/dev/video0",
         BOARD_UNKNOWN},
        {"adapter without I2C", SimBoard::raspberryPi4().i2cFunctionality(I2C_FUNC_SMBUS_EMUL),
         nothing, "Error: Adapter does not have I2C transfers capability\n"},
        // A library must not end its host: the message, then -2.
        {"QUERYCAP fails", SimBoard::raspberryPi4(), fault(VIDIOC_QUERYCAP, EIO, 1),
         "VIDIOC_QUERYCAP: error - 5\n"},
        {"QUERYCAP retried out", SimBoard::raspberryPi4(), fault(VIDIOC_QUERYCAP, EAGAIN, 5),
         "VIDIOC_QUERYCAP: error - 11\n"},
        {"Jetson name unreadable", SimBoard::jetsonNano(),
         [](sim::SimKernel& kernel) { kernel.remove("/sys/dev/char/81:0/name"); }, nullptr},
        {"missing video node", SimBoard::raspberryPi4(), nothing, nullptr, "/dev/video7"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.what);
        auto board = sim::SimBoardBuilder(entry.builder).paced(false).build();
        entry.arrange(board->kernel());
        QuarvelTOFCSISensor sensor(board->kernel(), entry.videoPath,
                                   entry.model < 0 ? board->expectedModel() : entry.model);
        CameraInfo info{};
        int result = 0;
        const std::string message = csitest::capturedStderr([&] { result = sensor.open(info); });
        EXPECT_EQ(result, -2);
        if (entry.message != nullptr) {
            EXPECT_EQ(message, entry.message);
        }
        EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
        EXPECT_EQ(sensor.close(), 0);
    }
}

TEST(CsiOpen, AFifthSubdeviceIsNeverOpenedAndAnInterruptedQuerycapIsRetried) {
    OpenSensor fifth(SimBoard::raspberryPi5().extraBridges(3));
    const auto trace = fifth.kernel().trace();
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const sim::CallRecord& r) {
                                return r.call == sim::Call::Open &&
                                       r.path.find("v4l-subdev") != std::string::npos;
                            }),
              4);

    auto board = SimBoard::raspberryPi4().build();
    board->kernel().addFault({sim::Call::Ioctl, VIDIOC_QUERYCAP, "", EINTR, 4});
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    CameraInfo info{};
    EXPECT_EQ(sensor.open(info), 0);
}

TEST(CsiOpen, AFrameSizeQueryFailureStillFillsSampleFormatAndFails) {
    auto board = SimBoard::raspberryPi4().build();
    board->kernel().addFault({sim::Call::Ioctl, VIDIOC_SUBDEV_G_FMT, "", EINTR, 1});
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    CameraInfo info{};
    csitest::capturedStderr([&] { EXPECT_EQ(sensor.open(info), -2); });  // no retry for it
    EXPECT_EQ(info.bit_width, 12u);
    EXPECT_EQ(info.bpp, 2u);
    EXPECT_EQ(sensor.getCameraInfo().bit_width, 12u);
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
}

TEST(CsiOpen, CloseBeforeOpenTouchesNoDescriptorAndCloseTwiceIsHarmless) {
    auto board = SimBoard::raspberryPi4().build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_TRUE(board->kernel().trace().empty());  // in particular no close(0)
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    EXPECT_EQ(sensor.close(), 0);
    board->kernel().clearTrace();
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_TRUE(board->kernel().trace().empty());
}

TEST(CsiOpen, RaspberryPiWithOnlyMultiPlanarCaptureIsDrivenSinglePlanarAndCannotStart) {
    OpenSensor open(SimBoard::raspberryPi4().multiPlanarNode());
    ASSERT_EQ(open.openResult, 0);
    EXPECT_EQ(open.sensor->streamBufferType(),
              static_cast<uint32_t>(V4L2_BUF_TYPE_VIDEO_CAPTURE));
    EXPECT_EQ(open.sensor->start(), -1);
    EXPECT_EQ(open.sensor->close(), 0);
    EXPECT_EQ(open.kernel().openDescriptorCount(), 0);
}
