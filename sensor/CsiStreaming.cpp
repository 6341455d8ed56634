// CSI streaming: format negotiation, the buffer ring, sub-frame grouping and stop.
#include <linux/media-bus-format.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "sensor/QuarvelTOFCSISensor.h"
#include "sensor/V4l2Compat.h"

namespace Quarvel {

namespace {

constexpr uint32_t kLineStrideBufferLength = 92160;  // 180 lines at a 512-byte stride
constexpr int64_t kGroupGapMicroseconds = 5000;

bool readsSizeFromSubdevice(int board) {
    return board == BOARD_RASPBERRY_PI || board == BOARD_RASPBERRY_PI_5 ||
           board == BOARD_RADXA_ROCK;
}

int64_t microseconds(const timeval& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000 + time.tv_usec;
}

// A cleared buffer description for `type`; multi-planar ones point at `plane`.
v4l2_buffer bufferDescription(uint32_t type, v4l2_plane* plane) {
    v4l2_buffer buffer{};
    buffer.type = type;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
        std::memset(plane, 0, sizeof *plane);
        buffer.m.planes = plane;
        buffer.length = 1;
    }
    return buffer;
}

}  // namespace

size_t QuarvelTOFCSISensor::frameCapacity() const {
    if (subframeCount <= 0) return 0;
    return static_cast<size_t>(info.width) * info.height * static_cast<size_t>(subframeCount) * 2;
}

int QuarvelTOFCSISensor::negotiateFormat() {
    if (!videoFd.isValid()) return QuarvelSuccess;
    v4l2_format format{};
    format.type = bufferType;
    if (bufferType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
        format.fmt.pix_mp.width = info.width;
        format.fmt.pix_mp.height = info.height;
        format.fmt.pix_mp.pixelformat = V4L2_PIX_FMT_Y12;
        format.fmt.pix_mp.field = V4L2_FIELD_NONE;
        format.fmt.pix_mp.num_planes = 1;
        format.fmt.pix_mp.plane_fmt[0].bytesperline = info.width * 2;
        format.fmt.pix_mp.plane_fmt[0].sizeimage = info.width * info.height * 2;
    } else {
        format.fmt.pix.width = info.width;
        format.fmt.pix.height = info.height;
        format.fmt.pix.pixelformat =
            boardModel == BOARD_RASPBERRY_PI_5 ? V4L2_PIX_FMT_Y12P : V4L2_PIX_FMT_Y12;
        format.fmt.pix.field = V4L2_FIELD_NONE;
    }
    int result = retryingIoctl(system, videoFd.get(), VIDIOC_TRY_FMT, &format);
    if (result < 0) return result;
    result = retryingIoctl(system, videoFd.get(), VIDIOC_S_FMT, &format);
    if (result < 0) return result;

    if (readsSizeFromSubdevice(boardModel)) {
        for (int i = 0; i < subdevCount; ++i) {
            v4l2_subdev_format request{};
            request.which = V4L2_SUBDEV_FORMAT_ACTIVE;
            request.pad = 0;
            request.format.width = info.width;
            request.format.height = info.height;
            request.format.code = MEDIA_BUS_FMT_Y12_1X12;
            request.format.field = V4L2_FIELD_NONE;
            result = retryingIoctl(system, subdevFds[i].get(), VIDIOC_SUBDEV_S_FMT, &request);
            if (result < 0) return result;
        }
        v4l2_subdev_format current{};
        const int subdevice = sensorSubdevFd();
        if (subdevice < 0 || system.ioctl(subdevice, VIDIOC_SUBDEV_G_FMT, &current) < 0) {
            return QuarvelSystemError;
        }
        return current.format.width == info.width && current.format.height == info.height
                   ? QuarvelSuccess
                   : QuarvelUnkownError;
    }
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (system.ioctl(videoFd.get(), VIDIOC_G_FMT, &current) < 0) return QuarvelSystemError;
    return current.fmt.pix.width == info.width && current.fmt.pix.height == info.height
               ? QuarvelSuccess
               : QuarvelUnkownError;
}

int QuarvelTOFCSISensor::start() {
    // Buffers left mapped by an earlier failed start or stop would keep the driver busy.
    for (MemoryMapping& mapping : bufferMappings) mapping.unmap();
    bufferCount = 0;

    if (negotiateFormat() != 0) return QuarvelUnkownError;

    v4l2_requestbuffers request{};
    request.count = kMaxBuffers;
    request.type = bufferType;
    request.memory = V4L2_MEMORY_MMAP;
    if (retryingIoctl(system, videoFd.get(), VIDIOC_REQBUFS, &request) < 0) {
        return QuarvelUnkownError;
    }
    // A driver may grant fewer buffers than asked (we stream with those) or more (the
    // extra ones are never queued). None at all cannot stream.
    if (request.count == 0) return QuarvelUnkownError;
    const uint32_t granted = std::min<uint32_t>(request.count, kMaxBuffers);
    for (uint32_t index = 0; index < granted; ++index) {
        if (mapAndQueueBuffer(index) != 0) return QuarvelUnkownError;
        bufferCount = index + 1;
    }

    uint32_t type = bufferType;
    if (retryingIoctl(system, videoFd.get(), VIDIOC_STREAMON, &type) < 0) {
        return QuarvelSystemError;
    }
    return QuarvelSuccess;
}

int QuarvelTOFCSISensor::mapAndQueueBuffer(uint32_t index) {
    v4l2_plane plane;
    v4l2_buffer buffer = bufferDescription(bufferType, &plane);
    buffer.index = index;
    if (retryingIoctl(system, videoFd.get(), VIDIOC_QUERYBUF, &buffer) < 0) return -1;

    if (buffer.length == kLineStrideBufferLength) {
        copySubframe = copyLineStride;
    } else if (boardModel == BOARD_JETSON) {
        copySubframe = copyBlockReorder;
    } else if (boardModel == BOARD_RASPBERRY_PI_5) {
        copySubframe = unpackY12P;
    } else {
        copySubframe = copyPlain;
    }

    const bool multiPlanar = bufferType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    const size_t size = multiPlanar ? plane.length : buffer.length;
    const off_t offset = multiPlanar ? plane.m.mem_offset : buffer.m.offset;
    void* address =
        system.mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, videoFd.get(), offset);
    if (address == MAP_FAILED) return -1;
    bufferMappings[index] = MemoryMapping(system, address, size);

    if (retryingIoctl(system, videoFd.get(), VIDIOC_QBUF, &buffer) < 0) return -1;
    return 0;
}

int QuarvelTOFCSISensor::getFrame(uint8_t* dst, uint64_t* timestamp) {
    const size_t capacity = dst != nullptr ? frameCapacity() : 0;
    size_t position = 0;
    int gathered = 0;
    int64_t previous = 0;
    timeval last{};
    while (gathered < subframeCount) {
        v4l2_plane plane;
        v4l2_buffer buffer = bufferDescription(bufferType, &plane);
        if (retryingIoctl(system, videoFd.get(), VIDIOC_DQBUF, &buffer) < 0) {
            return QuarvelSystemError;
        }
        if (buffer.index >= bufferCount) return 2;

        const int64_t now = microseconds(buffer.timestamp);
        if (gathered > 0 && now - previous > kGroupGapMicroseconds) {
            gathered = 0;
            position = 0;
        }
        const MemoryMapping& mapping = bufferMappings[buffer.index];
        if (bufferType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE) {
            // One plane is all we describe and map.
            if (buffer.length >= 1) {
                copySubframe(mapping.data(), std::min<size_t>(plane.length, mapping.size()), dst,
                             capacity, info.width, &position);
            }
        } else {
            copySubframe(mapping.data(), std::min<size_t>(buffer.length, mapping.size()), dst,
                         capacity, info.width, &position);
        }
        previous = now;
        last = buffer.timestamp;
        if (retryingIoctl(system, videoFd.get(), VIDIOC_QBUF, &buffer) < 0) {
            return QuarvelSystemError;
        }
        ++gathered;
    }
    if (timestamp != nullptr) {
        *timestamp = static_cast<uint64_t>(last.tv_sec) * 1000u +
                     static_cast<uint64_t>(last.tv_usec) / 1000u;
    }
    return QuarvelSuccess;
}

int QuarvelTOFCSISensor::stop() {
    uint32_t type = bufferType;
    if (retryingIoctl(system, videoFd.get(), VIDIOC_STREAMOFF, &type) < 0) {
        return QuarvelSystemError;
    }
    bool unmapFailed = false;
    for (uint32_t index = 0; index < bufferCount; ++index) {
        v4l2_plane plane;
        v4l2_buffer buffer = bufferDescription(bufferType, &plane);
        buffer.index = index;
        if (retryingIoctl(system, videoFd.get(), VIDIOC_QUERYBUF, &buffer) < 0) {
            return QuarvelSystemError;
        }
        // The mapping knows the length it was made with; a failed unmap is retried at close.
        if (bufferMappings[index].unmap() != 0) unmapFailed = true;
    }
    if (!unmapFailed) bufferCount = 0;
    return unmapFailed ? QuarvelSystemError : QuarvelSuccess;
}

}  // namespace Quarvel
