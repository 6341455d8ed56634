// CSI controls: range and exposure through the sensor subdevice, frame geometry, and the
// frame rate written to the chip over I2C byte for byte.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/videodev2.h>

#include <cerrno>

#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::capturedStderr;
using csitest::OpenSensor;
using sim::SimBoard;

namespace {

int32_t chipControl(OpenSensor& open, uint32_t id) {
    int32_t value = -1;
    open.board->chip().getControl(id, &value);
    return value;
}

int readBack(OpenSensor& open, CameraCtrl control) {
    int value = -1;
    EXPECT_EQ(open.sensor->getControl(control, &value), 0);
    return value;
}

}  // namespace

TEST(FrameRateControl, IsWrittenAsRegister0633BigEndianAndKeptEvenWhenTheTransferFails) {
    OpenSensor open(SimBoard::raspberryPi5());
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::FRAME_RATE, 30), 0);
    const auto messages = open.board->sensorBus().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].address, 0x0c);
    EXPECT_EQ(messages[0].flags, 0);
    EXPECT_EQ(messages[0].bytes, (std::vector<uint8_t>{0x06, 0x33, 0x00, 0x00, 0x00, 0x1E}));
    EXPECT_EQ(open.board->chip().framesPerSecond(), 30.0);
    EXPECT_EQ(readBack(open, CameraCtrl::FRAME_RATE), 30);

    open.kernel().addFault({sim::Call::Ioctl, I2C_RDWR, "", EREMOTEIO, 1});
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::FRAME_RATE, 0x01020304), -2);
    EXPECT_EQ(open.board->sensorBus().messages().size(), 1u);
    EXPECT_EQ(readBack(open, CameraCtrl::FRAME_RATE), 0x01020304);
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::FRAME_RATE, 0x01020304), 0);
    EXPECT_EQ(open.board->sensorBus().messages().back().bytes,
              (std::vector<uint8_t>{0x06, 0x33, 0x01, 0x02, 0x03, 0x04}));
}

TEST(RangeControl, OnlyTwoAndFourAreAcceptedAndGoToTheSensorSubdeviceNotTheBridge) {
    OpenSensor open(SimBoard::raspberryPi5());
    ASSERT_EQ(open.sensor->sensorSubdeviceIndex(), 1);
    open.kernel().clearTrace();
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::RANGE, 3), 1);
    EXPECT_TRUE(open.kernel().trace().empty());  // nothing sent
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::RANGE, 2), 0);
    const auto trace = open.kernel().trace();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].request, static_cast<unsigned long>(VIDIOC_S_CTRL));
    EXPECT_EQ(trace[0].path, "/dev/v4l-subdev1");  // the sensor; csi2 is v4l-subdev0
    EXPECT_EQ(chipControl(open, sim::SimSensorChip::kRangeControl), 1);
    EXPECT_EQ(readBack(open, CameraCtrl::RANGE), 2);
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::RANGE, 4), 0);
    EXPECT_EQ(chipControl(open, sim::SimSensorChip::kRangeControl), 0);
    EXPECT_EQ(readBack(open, CameraCtrl::RANGE), 4);
}

TEST(ExposureControl, SetsAndReadsTheSensorsExposureAndReportsFailuresThroughPerror) {
    OpenSensor open(SimBoard::radxaRock5b());
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::EXPOSURE, 1234), 0);
    EXPECT_EQ(chipControl(open, V4L2_CID_EXPOSURE), 1234);
    EXPECT_EQ(readBack(open, CameraCtrl::EXPOSURE), 1234);
    int result = 0;
    EXPECT_EQ(capturedStderr([&] {
                  result = open.sensor->setControl(CameraCtrl::EXPOSURE, 999999);
              }),
              "VIDIOC_S_CTRL: Numerical result out of range\n");
    EXPECT_EQ(result, -1);

    open.kernel().addFault({sim::Call::Ioctl, VIDIOC_G_CTRL, "", EIO, 5});
    int value = 77;
    EXPECT_EQ(capturedStderr([&] {
                  result = open.sensor->getControl(CameraCtrl::EXPOSURE, &value);
              }),
              "VIDIOC_G_CTRL: Input/output error\n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(value, 77);
}

TEST(V4l2Controls, OnAJetsonWithoutSubdevicesRangeAndExposureFailAfterTheirMessage) {
    OpenSensor open(SimBoard::jetsonXavierNx());
    open.kernel().clearTrace();
    int result = 0;
    EXPECT_EQ(capturedStderr([&] { result = open.sensor->setControl(CameraCtrl::RANGE, 2); }),
              "VIDIOC_S_CTRL: Bad file descriptor\n");
    EXPECT_EQ(result, -1);
    int value = 0;
    EXPECT_EQ(capturedStderr([&] {
                  result = open.sensor->getControl(CameraCtrl::EXPOSURE, &value);
              }),
              "VIDIOC_G_CTRL: Bad file descriptor\n");
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(open.kernel().trace().empty());
}

TEST(GeometryAndOtherControls, WidthAndHeightAreStoredOthersAreUnsupported) {
    OpenSensor open(SimBoard::raspberryPi4());
    open.kernel().clearTrace();
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::FMT_WIDTH, 640), 0);
    EXPECT_EQ(open.sensor->setControl(CameraCtrl::FMT_HEIGHT, 2405), 0);
    EXPECT_EQ(open.sensor->getCameraInfo().width, 640u);
    EXPECT_EQ(open.sensor->getCameraInfo().height, 2405u);
    EXPECT_EQ(readBack(open, CameraCtrl::FMT_HEIGHT), 2405);
    for (CameraCtrl ctrl : {CameraCtrl::MODE, CameraCtrl::FRAME_MODE, CameraCtrl::SKIP_FRAME,
                            CameraCtrl::CONFIG_DIR_EXT}) {
        int value = 0;
        EXPECT_EQ(open.sensor->setControl(ctrl, 1), 1);
        EXPECT_EQ(open.sensor->getControl(ctrl, &value), 1);
    }
    EXPECT_TRUE(open.kernel().trace().empty());
}
