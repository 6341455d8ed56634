// CSI controls: range and exposure through V4L2 controls on the sensor subdevice, frame
// geometry kept here, and the frame rate written to the sensor chip over I2C.
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstdio>

#include "sensor/QuarvelTOFCSISensor.h"

namespace Quarvel {

namespace {

// The sensor driver's private modulation control: 1 for the 2 m range, 0 for 4 m.
constexpr uint32_t kRangeControl = V4L2_CID_USER_BASE + 0x1001;
// Register 0x0633 of the sensor chip holds the frame rate as a 32-bit big-endian number.
constexpr uint8_t kFrameRateRegisterHigh = 0x06;
constexpr uint8_t kFrameRateRegisterLow = 0x33;

}  // namespace

int QuarvelTOFCSISensor::setV4l2Control(uint32_t id, int32_t value) {
    v4l2_control control{};
    control.id = id;
    control.value = value;
    const int fd = sensorSubdevFd();
    if (fd < 0) {
        errno = EBADF;
        std::perror("VIDIOC_S_CTRL");
        return QuarvelUnkownError;
    }
    if (retryingIoctl(system, fd, VIDIOC_S_CTRL, &control) < 0) {
        std::perror("VIDIOC_S_CTRL");
        return QuarvelUnkownError;
    }
    return QuarvelSuccess;
}

int QuarvelTOFCSISensor::getV4l2Control(uint32_t id, int32_t* value) {
    v4l2_control control{};
    control.id = id;
    const int fd = sensorSubdevFd();
    if (fd < 0) {
        errno = EBADF;
        std::perror("VIDIOC_G_CTRL");
        return QuarvelUnkownError;
    }
    if (retryingIoctl(system, fd, VIDIOC_G_CTRL, &control) < 0) {
        std::perror("VIDIOC_G_CTRL");
        return QuarvelUnkownError;
    }
    *value = control.value;
    return QuarvelSuccess;
}

int QuarvelTOFCSISensor::writeFrameRate(int32_t value) {
    const uint32_t rate = static_cast<uint32_t>(value);
    uint8_t bytes[6] = {kFrameRateRegisterHigh,
                        kFrameRateRegisterLow,
                        static_cast<uint8_t>(rate >> 24),
                        static_cast<uint8_t>(rate >> 16),
                        static_cast<uint8_t>(rate >> 8),
                        static_cast<uint8_t>(rate)};
    i2c_msg message{};
    message.addr = chipAddress;
    message.flags = 0;
    message.len = sizeof bytes;
    message.buf = bytes;
    i2c_rdwr_ioctl_data transfer{};
    transfer.msgs = &message;
    transfer.nmsgs = 1;
    if (!i2cFd.isValid()) return QuarvelSystemError;
    const int result = system.ioctl(i2cFd.get(), I2C_RDWR, &transfer);
    return result < static_cast<int>(transfer.nmsgs) ? QuarvelSystemError : QuarvelSuccess;
}

int QuarvelTOFCSISensor::setControl(CameraCtrl ctrl, int value) {
    switch (ctrl) {
        case CameraCtrl::RANGE:
            if (value != 2 && value != 4) return QuarvelInvalidParameter;
            return setV4l2Control(kRangeControl, value == 2 ? 1 : 0);
        case CameraCtrl::FMT_WIDTH:
            info.width = static_cast<uint32_t>(value);
            return QuarvelSuccess;
        case CameraCtrl::FMT_HEIGHT:
            info.height = static_cast<uint32_t>(value);
            return QuarvelSuccess;
        case CameraCtrl::EXPOSURE:
            return setV4l2Control(V4L2_CID_EXPOSURE, value);
        case CameraCtrl::FRAME_RATE:
            frameRate = value;  // kept even when the write fails
            return writeFrameRate(value);
        default:
            return QuarvelInvalidParameter;
    }
}

int QuarvelTOFCSISensor::getControl(CameraCtrl ctrl, int* value) {
    if (value == nullptr) return QuarvelInvalidParameter;
    int32_t current = 0;
    int result = QuarvelSuccess;
    switch (ctrl) {
        case CameraCtrl::RANGE:
            result = getV4l2Control(kRangeControl, &current);
            if (result == QuarvelSuccess) *value = current != 0 ? 2 : 4;
            return result;
        case CameraCtrl::FMT_WIDTH:
            *value = static_cast<int>(info.width);
            return QuarvelSuccess;
        case CameraCtrl::FMT_HEIGHT:
            *value = static_cast<int>(info.height);
            return QuarvelSuccess;
        case CameraCtrl::EXPOSURE:
            result = getV4l2Control(V4L2_CID_EXPOSURE, &current);
            if (result == QuarvelSuccess) *value = current;
            return result;
        case CameraCtrl::FRAME_RATE:
            *value = frameRate;
            return QuarvelSuccess;
        default:
            return QuarvelInvalidParameter;
    }
}

}  // namespace Quarvel
