// CSI open: video node capabilities, discovery per board (media graph, Jetson sysfs name),
// bus lookup, and what open leaves behind when it fails.
#include <gtest/gtest.h>
#include <linux/i2c.h>
#include <linux/media.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>

#include "sensor/QuarvelTOFCSISensor.h"
#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::capturedStderr;
using sim::BoardKind;
using sim::SimBoard;

namespace {

const char* kNoBus = "Error: I2C bus name doesn't match any bus present!\n";

struct Opened {
    int result;
    std::string message;
    CameraInfo info;
};

Opened openOn(SimBoard&, QuarvelTOFCSISensor& sensor) {
    Opened opened{};
    opened.message = capturedStderr([&] { opened.result = sensor.open(opened.info); });
    return opened;
}

bool opened(const SimBoard& board, const std::string& path) {
    auto paths = const_cast<SimBoard&>(board).kernel().openDescriptorPaths();
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

int countCalls(SimBoard& board, sim::Call call, unsigned long request) {
    const auto trace = board.kernel().trace();
    return static_cast<int>(std::count_if(
        trace.begin(), trace.end(),
        [&](const sim::CallRecord& r) { return r.call == call && r.request == request; }));
}

}  // namespace

TEST(CsiDiscovery, EveryBoardFindsItsSensorBusAndOpensIt) {
    const struct {
        BoardKind kind;
        const char* bus;
        int subdevices;
        int sensorIndex;
        uint32_t bufferType;
    } expectations[] = {
        {BoardKind::RaspberryPi4, "10", 1, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE},
        {BoardKind::RaspberryPi5, "4", 2, 1, V4L2_BUF_TYPE_VIDEO_CAPTURE},
        {BoardKind::JetsonNano, "6", 0, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE},
        {BoardKind::JetsonTx1, "6", 0, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE},
        {BoardKind::JetsonXavierNx, "30", 0, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE},
        {BoardKind::JetsonAgxOrin, "30", 0, 0, V4L2_BUF_TYPE_VIDEO_CAPTURE},
        {BoardKind::RadxaRock5b, "7", 2, 1, V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE},
    };
    for (const auto& expected : expectations) {
        SCOPED_TRACE(SimBoard::nameOf(expected.kind));
        auto board = SimBoard::of(expected.kind).build();
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", board->expectedModel());
        const Opened result = openOn(*board, sensor);
        ASSERT_EQ(result.result, 0) << result.message;
        EXPECT_STREQ(sensor.busName(), expected.bus);
        EXPECT_TRUE(opened(*board, std::string("/dev/i2c-") + expected.bus));
        EXPECT_EQ(sensor.subdeviceCount(), expected.subdevices);
        EXPECT_EQ(sensor.sensorSubdeviceIndex(), expected.sensorIndex);
        EXPECT_EQ(sensor.streamBufferType(), expected.bufferType);
        EXPECT_EQ(result.info.width, 240u);
        EXPECT_EQ(result.info.height, 180u);
        EXPECT_EQ(result.info.bit_width, 12u);
        EXPECT_EQ(result.info.bpp, 2u);
        EXPECT_EQ(result.message, "");
        EXPECT_EQ(sensor.close(), 0);
        EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    }
}

TEST(CsiDiscovery, RaspberryPi5EnablesTheReceiverLinkAndRecordsTheBridgeBeforeTheSensor) {
    auto board = SimBoard::raspberryPi5().build();
    EXPECT_FALSE(board->media()->linkEnabled("csi2", 4, "rp1-cfe-csi2_ch0", 0));
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI_5);
    ASSERT_EQ(openOn(*board, sensor).result, 0);
    EXPECT_TRUE(board->media()->linkEnabled("csi2", 4, "rp1-cfe-csi2_ch0", 0));
    EXPECT_EQ(sensor.subdeviceCount(), 2);
    EXPECT_EQ(sensor.sensorSubdeviceIndex(), 1);
    // The media node is open only during the walk.
    EXPECT_FALSE(opened(*board, "/dev/media0"));
    EXPECT_EQ(sensor.mediaNodePath(), std::string("/dev/media0"));
    sensor.close();
}

TEST(CsiDiscovery, RaspberryPi5BridgeEnumeratedAfterTheSensorIsNeverRecorded) {
    auto board = SimBoard::raspberryPi5().sensorBeforeBridge().build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI_5);
    ASSERT_EQ(openOn(*board, sensor).result, 0);
    EXPECT_EQ(sensor.subdeviceCount(), 1);
    EXPECT_EQ(sensor.sensorSubdeviceIndex(), 0);
    EXPECT_FALSE(opened(*board, "/dev/v4l-subdev1"));
    sensor.close();
}

TEST(CsiDiscovery, RaspberryPiSensorIsTheOnlySubdevice) {
    auto board = SimBoard::raspberryPi4().build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    ASSERT_EQ(openOn(*board, sensor).result, 0);
    EXPECT_EQ(sensor.subdeviceCount(), 1);
    EXPECT_EQ(sensor.sensorSubdeviceIndex(), 0);
    EXPECT_TRUE(opened(*board, "/dev/v4l-subdev0"));
    sensor.close();
}

TEST(CsiDiscovery, BusNameComesFromTheSensorEntityName) {
    for (const std::string name : {"quarvel-vantorix 10-000c", "quarvel-vantorix 4-000c"}) {
        auto board = SimBoard::raspberryPi4().sensorEntityName(name).build();
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
        const Opened result = openOn(*board, sensor);
        const std::string bus = name.substr(17, name.find('-', 17) - 17);
        EXPECT_STREQ(sensor.busName(), bus.c_str());
        // Only bus 10 exists on this board.
        EXPECT_EQ(result.result, bus == "10" ? 0 : -2) << name;
        sensor.close();
        EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    }
}

TEST(CsiDiscovery, SensorEntityNameWithoutASpaceLeavesNoBusAndOpenFails) {
    auto board = SimBoard::raspberryPi4().sensorEntityName("quarvel-vantorix").build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    const Opened result = openOn(*board, sensor);
    EXPECT_EQ(result.result, -2);
    EXPECT_STREQ(sensor.busName(), "");
    EXPECT_EQ(result.message, kNoBus);
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
}

TEST(CsiDiscovery, AFifthSubdeviceEndsTheWalkWithoutBeingStored) {
    // Four bridges ahead of the sensor fill the table; the sensor would be the fifth.
    auto board = SimBoard::raspberryPi5().extraBridges(3).build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI_5);
    const Opened result = openOn(*board, sensor);
    EXPECT_EQ(result.result, -2);
    EXPECT_EQ(result.message, kNoBus);
    // Nothing of the failed open stays open, and no fifth node was even tried.
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    const auto trace = board->kernel().trace();
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const sim::CallRecord& r) {
                                return r.call == sim::Call::Open &&
                                       r.path.find("v4l-subdev") != std::string::npos;
                            }),
              4);
}

TEST(CsiDiscovery, TheMediaEntryListedLastThatOpensIsUsed) {
    {
        auto board = SimBoard::raspberryPi4().mediaEntries({"media0", "media1"}, "media1").build();
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
        ASSERT_EQ(openOn(*board, sensor).result, 0);
        EXPECT_STREQ(sensor.mediaNodePath(), "/dev/media1");
        const auto trace = board->kernel().trace();
        EXPECT_TRUE(std::none_of(trace.begin(), trace.end(), [](const sim::CallRecord& r) {
            return r.call == sim::Call::Open && r.path == "/dev/media0";
        }));
        sensor.close();
    }
    {
        auto board = SimBoard::raspberryPi4().mediaEntries({"media0", "media1"}, "media0").build();
        board->kernel().denyAccess("/dev/media1");
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
        ASSERT_EQ(openOn(*board, sensor).result, 0);
        EXPECT_STREQ(sensor.mediaNodePath(), "/dev/media0");
        sensor.close();
    }
}

TEST(CsiDiscovery, RaspberryPiWithOnlyMultiPlanarCaptureIsStillDrivenSinglePlanar) {
    auto board = SimBoard::raspberryPi4().multiPlanarNode().build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    ASSERT_EQ(openOn(*board, sensor).result, 0);
    EXPECT_EQ(sensor.streamBufferType(), static_cast<uint32_t>(V4L2_BUF_TYPE_VIDEO_CAPTURE));
    EXPECT_EQ(countCalls(*board, sim::Call::Ioctl, VIDIOC_S_INPUT), 1);
    // The node refuses single-planar formats: the stream cannot start.
    EXPECT_EQ(sensor.start(), -1);
    sensor.close();
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
}

TEST(CsiDiscovery, RadxaRockStreamsMultiPlanarAndSelectsNoInput) {
    auto board = SimBoard::radxaRock5b().build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RADXA_ROCK);
    ASSERT_EQ(openOn(*board, sensor).result, 0);
    EXPECT_EQ(sensor.streamBufferType(), static_cast<uint32_t>(V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE));
    EXPECT_EQ(countCalls(*board, sim::Call::Ioctl, VIDIOC_S_INPUT), 0);
    sensor.close();
}

TEST(CsiDiscovery, JetsonBusNameIsTheDigitsAfterTheSpaceFollowingQuarvel) {
    const struct {
        const char* line;
        int result;
        const char* bus;
    } cases[] = {
        {"vi-output, quarvel 30-000c", 0, "30"},
        {"vi-output, quarvel-tof 30-000c", 0, "30"},
        {"vi-output, quarvel 123456789-000c", -2, "1234567"},  // at most 7 digits fit
        {"vi-output, quarvel", -2, ""},                        // the scan stops at the line end
        {"vi-output, quarvel\nsecond 30", -2, ""},
        {"vi-output, quarvel abc", -2, ""},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.line);
        auto board = SimBoard::jetsonXavierNx().jetsonNodeName(entry.line).build();
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_JETSON);
        const Opened result = openOn(*board, sensor);
        EXPECT_EQ(result.result, entry.result);
        EXPECT_STREQ(sensor.busName(), entry.bus);
        EXPECT_EQ(board->kernel().openDescriptorCount(), 0 + (result.result == 0 ? 2 : 0));
        sensor.close();
    }
}

TEST(CsiDiscovery, JetsonNameWithoutQuarvelOrUnreadableFailsOpen) {
    {
        auto board = SimBoard::jetsonNano().jetsonNodeName("vi-output, imx219 6-0010").build();
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_JETSON_NANO);
        EXPECT_EQ(openOn(*board, sensor).result, -2);
        EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    }
    {
        auto board = SimBoard::jetsonNano().build();
        board->kernel().remove("/sys/dev/char/81:0/name");
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_JETSON_NANO);
        EXPECT_EQ(openOn(*board, sensor).result, -2);
        EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    }
}

TEST(CsiDiscovery, AnUnknownBoardHasNoBusAndOpenFails) {
    auto board = SimBoard::raspberryPi4().build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_UNKNOWN);
    const Opened result = openOn(*board, sensor);
    EXPECT_EQ(result.result, -2);
    EXPECT_EQ(result.message, kNoBus);
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
}

TEST(CsiOpen, AnAdapterWithoutPlainI2cTransfersIsRefused) {
    auto board = SimBoard::raspberryPi4().i2cFunctionality(I2C_FUNC_SMBUS_EMUL).build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    const Opened result = openOn(*board, sensor);
    EXPECT_EQ(result.result, -2);
    EXPECT_EQ(result.message, "Error: Adapter does not have I2C transfers capability\n");
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
}

TEST(CsiOpen, QuerycapFailingReturnsSystemErrorWithItsMessageInsteadOfEndingTheProcess) {
    auto board = SimBoard::raspberryPi4().build();
    board->kernel().addFault({sim::Call::Ioctl, VIDIOC_QUERYCAP, "", EIO, 1});
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    const Opened result = openOn(*board, sensor);
    EXPECT_EQ(result.result, -2);
    EXPECT_EQ(result.message, "VIDIOC_QUERYCAP: error - 5\n");
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    EXPECT_EQ(sensor.close(), 0);
}

TEST(CsiOpen, QuerycapInterruptedFourTimesIsRetriedAndFiveTimesFails) {
    {
        auto board = SimBoard::raspberryPi4().build();
        board->kernel().addFault({sim::Call::Ioctl, VIDIOC_QUERYCAP, "", EINTR, 4});
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
        EXPECT_EQ(openOn(*board, sensor).result, 0);
        EXPECT_EQ(countCalls(*board, sim::Call::Ioctl, VIDIOC_QUERYCAP), 5);
        sensor.close();
    }
    {
        auto board = SimBoard::raspberryPi4().build();
        board->kernel().addFault({sim::Call::Ioctl, VIDIOC_QUERYCAP, "", EAGAIN, 5});
        QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
        const Opened result = openOn(*board, sensor);
        EXPECT_EQ(result.result, -2);
        EXPECT_EQ(result.message, "VIDIOC_QUERYCAP: error - 11\n");
        EXPECT_EQ(countCalls(*board, sim::Call::Ioctl, VIDIOC_QUERYCAP), 5);
    }
}

TEST(CsiOpen, AFrameSizeQueryFailureStillFillsSampleFormatAndFails) {
    auto board = SimBoard::raspberryPi4().build();
    board->kernel().addFault({sim::Call::Ioctl, VIDIOC_SUBDEV_G_FMT, "", EINTR, 1});
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    const Opened result = openOn(*board, sensor);  // no retry for this request
    EXPECT_EQ(result.result, -2);
    EXPECT_EQ(result.info.bit_width, 12u);
    EXPECT_EQ(result.info.bpp, 2u);
    EXPECT_EQ(sensor.getCameraInfo().bit_width, 12u);
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
}

TEST(CsiOpen, CloseBeforeOpenTouchesNoDescriptorAndCloseTwiceIsHarmless) {
    auto board = SimBoard::raspberryPi4().build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video0", BOARD_RASPBERRY_PI);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_TRUE(board->kernel().trace().empty());  // in particular no close(0)

    ASSERT_EQ(openOn(*board, sensor).result, 0);
    EXPECT_EQ(board->kernel().openDescriptorCount(), 3);  // video, subdevice, bus
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
    board->kernel().clearTrace();
    EXPECT_EQ(sensor.close(), 0);
    EXPECT_TRUE(board->kernel().trace().empty());
}

TEST(CsiOpen, AMissingVideoNodeFailsWithoutOpeningAnything) {
    auto board = SimBoard::raspberryPi4().build();
    QuarvelTOFCSISensor sensor(board->kernel(), "/dev/video7", BOARD_RASPBERRY_PI);
    EXPECT_EQ(openOn(*board, sensor).result, -2);
    EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
}
