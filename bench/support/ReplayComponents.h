// Component set that gives the camera a replaying sensor and the production devices.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/support/ReplayingSensor.h"
#include "core/ComponentFactory.h"

namespace Quarvel {
namespace bench {

class ReplayComponents : public ComponentFactory {
public:
    // Frames of width x height sub-frames; not owned.
    ReplayComponents(const std::vector<std::vector<uint8_t>>* frames, uint32_t width,
                     uint32_t height)
        : frames(frames), width(width), height(height) {}

    std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char*, int) const override;
    std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string&, int) const override;
    std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int boardModel) const override;
    std::unique_ptr<QuarvelDevice> makeVgaDevice(int boardModel) const override;

    // The sensor most recently handed to a camera (owned by it); set before its open.
    mutable ReplayingSensor* sensor = nullptr;
    // Applied to each new sensor.
    std::chrono::nanoseconds framePeriod{0};

private:
    std::unique_ptr<QuarvelTOFSensor> makeSensor() const;
    const std::vector<std::vector<uint8_t>>* frames;
    uint32_t width;
    uint32_t height;
};

}  // namespace bench
}  // namespace Quarvel
