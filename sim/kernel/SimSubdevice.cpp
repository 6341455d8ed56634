// Simulated v4l-subdev nodes of sensors and bridges.
#include "sim/kernel/SimSubdevice.h"

#include <linux/media-bus-format.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

namespace Quarvel {
namespace sim {

SimSubdevice::SimSubdevice(std::shared_ptr<SimSensorChip> sensorChip)
    : chip(std::move(sensorChip)), padCount(1), padFormats(padCount) {}

SimSubdevice::SimSubdevice(int pads)
    : padCount(static_cast<size_t>(pads > 0 ? pads : 1)), padFormats(padCount) {
    for (v4l2_mbus_framefmt& format : padFormats) {
        format.width = 640;
        format.height = 480;
        format.code = MEDIA_BUS_FMT_Y12_1X12;
        format.field = V4L2_FIELD_NONE;
    }
}

v4l2_mbus_framefmt SimSubdevice::padFormat(uint32_t pad) const {
    MutexLock lock(subdevMutex);
    v4l2_mbus_framefmt format{};
    if (chip) {
        const FrameSize size = chip->activeSize();
        format.width = size.width;
        format.height = size.height;
        format.code = MEDIA_BUS_FMT_Y12_1X12;
        format.field = V4L2_FIELD_NONE;
    } else if (pad < padFormats.size()) {
        format = padFormats[pad];
    }
    return format;
}

int SimSubdevice::formatRequests() const {
    MutexLock lock(subdevMutex);
    return setCount;
}

bool SimSubdevice::validFormatRequest(const v4l2_subdev_format& format) const {
    // The subdev core refuses any `which` but TRY and ACTIVE before the driver sees it.
    return format.pad < padCount &&
           (format.which == V4L2_SUBDEV_FORMAT_ACTIVE || format.which == V4L2_SUBDEV_FORMAT_TRY);
}

int SimSubdevice::ioctl(unsigned long request, void* argument, bool) {
    switch (request) {
        case VIDIOC_SUBDEV_G_FMT: {
            auto* format = static_cast<v4l2_subdev_format*>(argument);
            if (!validFormatRequest(*format)) return -EINVAL;
            format->format = padFormat(format->pad);
            return 0;
        }
        case VIDIOC_SUBDEV_S_FMT: {
            auto* format = static_cast<v4l2_subdev_format*>(argument);
            if (!validFormatRequest(*format)) return -EINVAL;
            {
                MutexLock lock(subdevMutex);
                ++setCount;
            }
            // Only the one bus format exists; the driver replaces any other code.
            format->format.code = MEDIA_BUS_FMT_Y12_1X12;
            format->format.field = V4L2_FIELD_NONE;
            if (chip) {
                const FrameSize size =
                    chip->nearestSize(format->format.width, format->format.height);
                format->format.width = size.width;
                format->format.height = size.height;
                if (format->which == V4L2_SUBDEV_FORMAT_ACTIVE) chip->setActiveSize(size);
            } else if (format->which == V4L2_SUBDEV_FORMAT_ACTIVE) {
                MutexLock lock(subdevMutex);
                padFormats[format->pad] = format->format;
            }
            return 0;
        }
        case VIDIOC_S_CTRL: {
            if (!chip) return -ENOTTY;
            auto* control = static_cast<v4l2_control*>(argument);
            return chip->setControl(control->id, control->value);
        }
        case VIDIOC_G_CTRL: {
            if (!chip) return -ENOTTY;
            auto* control = static_cast<v4l2_control*>(argument);
            return chip->getControl(control->id, &control->value);
        }
        default:
            return -ENOTTY;
    }
}

}  // namespace sim
}  // namespace Quarvel
