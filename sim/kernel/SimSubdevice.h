// A simulated v4l-subdev node: the sensor chip's own, or a bridge's (CSI-2 receiver, D-PHY).
#pragma once

#include <linux/v4l2-subdev.h>

#include <memory>
#include <vector>

#include "core/ThreadSafety.h"
#include "sim/kernel/SimDevice.h"
#include "sim/kernel/SimSensorChip.h"

namespace Quarvel {
namespace sim {

// The sensor's subdevice (one source pad) passes formats and controls to the chip. Like
// many vendor sensor drivers it keeps one format and answers every get with it, whatever
// `which` asks for. A bridge keeps a format per pad and has no controls.
class SimSubdevice : public SimDevice {
public:
    // A sensor subdevice.
    explicit SimSubdevice(std::shared_ptr<SimSensorChip> chip);
    // A bridge with `pads` pads.
    explicit SimSubdevice(int pads);

    int ioctl(unsigned long request, void* argument, bool nonBlocking)
        EXCLUDES(subdevMutex) override;
    // The active format of a bridge pad (or of the sensor).
    v4l2_mbus_framefmt padFormat(uint32_t pad) const EXCLUDES(subdevMutex);
    // How many VIDIOC_SUBDEV_S_FMT requests the node received.
    int formatRequests() const EXCLUDES(subdevMutex);

private:
    // A pad that exists and a `which` of TRY or ACTIVE.
    bool validFormatRequest(const v4l2_subdev_format& format) const;

    const std::shared_ptr<SimSensorChip> chip;
    const size_t padCount;      // padFormats' size, fixed at construction
    mutable Mutex subdevMutex;  // guards padFormats and setCount
    std::vector<v4l2_mbus_framefmt> padFormats GUARDED_BY(subdevMutex);
    int setCount GUARDED_BY(subdevMutex) = 0;
};

}  // namespace sim
}  // namespace Quarvel
