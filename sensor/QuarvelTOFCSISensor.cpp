// CSI transport: construction, open and close.
#include "sensor/QuarvelTOFCSISensor.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/ComponentFactory.h"
#include "sensor/I2cAdapter.h"
#include "sensor/I2cBusLookup.h"

namespace Quarvel {

std::unique_ptr<QuarvelTOFSensor> createCsiSensor(const char* devicePath, int boardModel,
                                                  SystemCalls& system) {
    return std::make_unique<QuarvelTOFCSISensor>(system, devicePath, boardModel);
}

std::unique_ptr<QuarvelTOFSensor> createCsiSensor(const char* devicePath, int boardModel) {
    return createCsiSensor(devicePath, boardModel, productionSystemCalls());
}

QuarvelTOFCSISensor::QuarvelTOFCSISensor(SystemCalls& system, const char* path, int board)
    : system(system), boardModel(board) {
    std::snprintf(devicePath, sizeof devicePath, "%s", path ? path : "");
}

namespace {

bool usesMediaGraph(int board) {
    return board == BOARD_RASPBERRY_PI || board == BOARD_RASPBERRY_PI_5 ||
           board == BOARD_RADXA_ROCK;
}

bool isJetson(int board) { return board == 2 || board == 3 || board == 4; }

}  // namespace

int QuarvelTOFCSISensor::open(CameraInfo& callerInfo) {
    const int fd = system.open(devicePath, O_RDWR);
    if (fd < 0) return QuarvelSystemError;
    videoFd = UniqueFd(system, fd);

    v4l2_capability capability{};
    if (retryingIoctl(system, videoFd.get(), VIDIOC_QUERYCAP, &capability) < 0) {
        // A library must not end its host: report, release and fail.
        std::fprintf(stderr, "VIDIOC_QUERYCAP: error - %d\n", errno);
        releaseAll();
        return QuarvelSystemError;
    }
    if (capability.capabilities & V4L2_CAP_VIDEO_CAPTURE) {
        bufferType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    } else if (capability.capabilities & V4L2_CAP_VIDEO_CAPTURE_MPLANE) {
        bufferType = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    } else {
        releaseAll();
        return QuarvelSystemError;
    }
    if (!(capability.capabilities & V4L2_CAP_STREAMING)) {
        releaseAll();
        return QuarvelSystemError;
    }

    if (boardModel == BOARD_RADXA_ROCK) {
        bufferType = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
        walkMediaGraph();
    } else if (boardModel == BOARD_RASPBERRY_PI || boardModel == BOARD_RASPBERRY_PI_5) {
        bufferType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        walkMediaGraph();
    } else if (isJetson(boardModel)) {
        bufferType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        subdevCount = 0;
        if (findBusNameInSysfs() != 0) {
            releaseAll();
            return QuarvelSystemError;
        }
    } else {
        bufferType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        subdevCount = 0;
    }

    if (bufferType == V4L2_BUF_TYPE_VIDEO_CAPTURE &&
        retryingIoctl(system, videoFd.get(), VIDIOC_S_INPUT, &inputIndex) < 0) {
        releaseAll();
        return QuarvelSystemError;
    }

    const int bus = lookupI2cBus(system, i2cBusName);
    if (bus < 0) {
        releaseAll();
        return QuarvelSystemError;
    }
    char busNode[20];
    const int busFd = i2c::openDevice(system, bus, busNode, sizeof busNode, 0);
    if (busFd < 0) {
        releaseAll();
        return QuarvelSystemError;
    }
    i2cFd = UniqueFd(system, busFd);
    unsigned long funcs = 0;
    if (i2c::getFunctionality(system, i2cFd.get(), &funcs) < 0) {
        releaseAll();
        return QuarvelSystemError;
    }
    if (!(funcs & I2C_FUNC_I2C)) {
        std::fprintf(stderr, "Error: Adapter does not have %s capability\n", "I2C transfers");
        releaseAll();
        return QuarvelSystemError;
    }
    chipAddress = static_cast<uint16_t>(parseChipAddress("0x0c"));

    int result = QuarvelSuccess;
    if (usesMediaGraph(boardModel)) {
        v4l2_subdev_format format{};
        const int subdevice = sensorSubdevFd();
        if (subdevice < 0 || system.ioctl(subdevice, VIDIOC_SUBDEV_G_FMT, &format) < 0) {
            result = QuarvelSystemError;
        } else {
            callerInfo.width = format.format.width;
            callerInfo.height = format.format.height;
        }
    } else {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (system.ioctl(videoFd.get(), VIDIOC_G_FMT, &format) < 0) {
            result = QuarvelSystemError;
        } else {
            callerInfo.width = format.fmt.pix.width;
            callerInfo.height = format.fmt.pix.height;
        }
    }
    callerInfo.bit_width = 12;
    callerInfo.bpp = 2;
    info = callerInfo;
    if (result != QuarvelSuccess) releaseAll();
    return result;
}

int QuarvelTOFCSISensor::close() {
    releaseAll();
    return QuarvelSuccess;
}

void QuarvelTOFCSISensor::releaseAll() {
    // Mappings first: they belong to the video node.
    for (MemoryMapping& mapping : bufferMappings) mapping.unmap();
    bufferCount = 0;
    for (UniqueFd& subdevice : subdevFds) subdevice.reset();
    subdevCount = 0;
    sensorSubdevIndex = 0;
    videoFd.reset();
    i2cFd.reset();
}

int QuarvelTOFCSISensor::sensorSubdevFd() const {
    return sensorSubdevIndex < subdevCount ? subdevFds[sensorSubdevIndex].get() : -1;
}

}  // namespace Quarvel
