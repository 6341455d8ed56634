// CSI controls: range and exposure through the sensor subdevice, frame geometry, and the
// frame rate written to the chip over I2C byte for byte.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>

#include "sensor/QuarvelTOFCSISensor.h"
#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::capturedStderr;
using sim::SimBoard;

namespace {

struct Opened {
    std::unique_ptr<SimBoard> board;
    std::unique_ptr<QuarvelTOFCSISensor> sensor;
    explicit Opened(sim::SimBoardBuilder builder) : board(builder.paced(false).build()) {
        sensor = std::make_unique<QuarvelTOFCSISensor>(board->kernel(), "/dev/video0",
                                                       board->expectedModel());
        CameraInfo info{};
        EXPECT_EQ(sensor->open(info), 0);
        board->kernel().clearTrace();
    }
    int32_t chipControl(uint32_t id) {
        int32_t value = -1;
        board->chip().getControl(id, &value);
        return value;
    }
};

}  // namespace

TEST(FrameRateControl, ThirtyIsWrittenAsRegister0633BigEndianToTheChip) {
    Opened camera(SimBoard::raspberryPi5());
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::FRAME_RATE, 30), 0);
    const auto messages = camera.board->sensorBus().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].address, 0x0c);
    EXPECT_EQ(messages[0].flags, 0);
    EXPECT_EQ(messages[0].bytes, (std::vector<uint8_t>{0x06, 0x33, 0x00, 0x00, 0x00, 0x1E}));
    EXPECT_EQ(camera.board->chip().framesPerSecond(), 30.0);
    int value = 0;
    EXPECT_EQ(camera.sensor->getControl(CameraCtrl::FRAME_RATE, &value), 0);
    EXPECT_EQ(value, 30);
}

TEST(FrameRateControl, AFailedTransferReturnsSystemErrorAndKeepsTheValue) {
    Opened camera(SimBoard::jetsonNano());
    camera.board->kernel().addFault({sim::Call::Ioctl, I2C_RDWR, "", EREMOTEIO, 1});
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::FRAME_RATE, 0x01020304), -2);
    int value = 0;
    EXPECT_EQ(camera.sensor->getControl(CameraCtrl::FRAME_RATE, &value), 0);
    EXPECT_EQ(value, 0x01020304);
    EXPECT_TRUE(camera.board->sensorBus().messages().empty());
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::FRAME_RATE, 0x01020304), 0);
    EXPECT_EQ(camera.board->sensorBus().messages().back().bytes,
              (std::vector<uint8_t>{0x06, 0x33, 0x01, 0x02, 0x03, 0x04}));
}

TEST(RangeControl, OnlyTwoAndFourAreAcceptedAndSetTheDriverControl) {
    Opened camera(SimBoard::raspberryPi4());
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::RANGE, 3), 1);
    EXPECT_TRUE(camera.board->kernel().trace().empty());  // nothing sent
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::RANGE, 2), 0);
    EXPECT_EQ(camera.chipControl(sim::SimSensorChip::kRangeControl), 1);
    int value = 0;
    EXPECT_EQ(camera.sensor->getControl(CameraCtrl::RANGE, &value), 0);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::RANGE, 4), 0);
    EXPECT_EQ(camera.chipControl(sim::SimSensorChip::kRangeControl), 0);
    EXPECT_EQ(camera.sensor->getControl(CameraCtrl::RANGE, &value), 0);
    EXPECT_EQ(value, 4);
}

TEST(RangeControl, GoesToTheSensorSubdeviceNotTheBridge) {
    Opened camera(SimBoard::raspberryPi5());
    ASSERT_EQ(camera.sensor->sensorSubdeviceIndex(), 1);
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::RANGE, 2), 0);
    const auto trace = camera.board->kernel().trace();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].request, static_cast<unsigned long>(VIDIOC_S_CTRL));
    EXPECT_EQ(trace[0].path, "/dev/v4l-subdev1");  // the sensor; csi2 is v4l-subdev0
}

TEST(ExposureControl, SetsAndReadsTheSensorsExposure) {
    Opened camera(SimBoard::radxaRock5b());
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::EXPOSURE, 1234), 0);
    EXPECT_EQ(camera.chipControl(V4L2_CID_EXPOSURE), 1234);
    int value = 0;
    EXPECT_EQ(camera.sensor->getControl(CameraCtrl::EXPOSURE, &value), 0);
    EXPECT_EQ(value, 1234);
    int result = 0;
    const std::string message =
        capturedStderr([&] { result = camera.sensor->setControl(CameraCtrl::EXPOSURE, 999999); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(message, "VIDIOC_S_CTRL: Numerical result out of range\n");
}

TEST(ExposureControl, AFailingReadReportsItThroughPerror) {
    Opened camera(SimBoard::raspberryPi4());
    camera.board->kernel().addFault({sim::Call::Ioctl, VIDIOC_G_CTRL, "", EIO, 5});
    int value = 77;
    int result = 0;
    const std::string message =
        capturedStderr([&] { result = camera.sensor->getControl(CameraCtrl::EXPOSURE, &value); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(message, "VIDIOC_G_CTRL: Input/output error\n");
}

TEST(V4l2Controls, OnAJetsonWithoutSubdevicesRangeAndExposureFailAfterTheirMessage) {
    Opened camera(SimBoard::jetsonXavierNx());
    int result = 0;
    std::string message =
        capturedStderr([&] { result = camera.sensor->setControl(CameraCtrl::RANGE, 2); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(message, "VIDIOC_S_CTRL: Bad file descriptor\n");
    int value = 0;
    message =
        capturedStderr([&] { result = camera.sensor->getControl(CameraCtrl::EXPOSURE, &value); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(message, "VIDIOC_G_CTRL: Bad file descriptor\n");
    EXPECT_TRUE(camera.board->kernel().trace().empty());
}

TEST(GeometryAndOtherControls, WidthAndHeightAreStoredOthersAreUnsupported) {
    Opened camera(SimBoard::raspberryPi4());
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::FMT_WIDTH, 640), 0);
    EXPECT_EQ(camera.sensor->setControl(CameraCtrl::FMT_HEIGHT, 2405), 0);
    EXPECT_EQ(camera.sensor->getCameraInfo().width, 640u);
    EXPECT_EQ(camera.sensor->getCameraInfo().height, 2405u);
    int value = 0;
    EXPECT_EQ(camera.sensor->getControl(CameraCtrl::FMT_HEIGHT, &value), 0);
    EXPECT_EQ(value, 2405);
    for (CameraCtrl ctrl : {CameraCtrl::MODE, CameraCtrl::FRAME_MODE, CameraCtrl::SKIP_FRAME,
                            CameraCtrl::CONFIG_DIR_EXT}) {
        EXPECT_EQ(camera.sensor->setControl(ctrl, 1), 1);
        EXPECT_EQ(camera.sensor->getControl(ctrl, &value), 1);
    }
    EXPECT_TRUE(camera.board->kernel().trace().empty());
}
