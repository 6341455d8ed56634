// Replaying sensor plus the library's own devices.
#include "bench/support/ReplayComponents.h"

namespace Quarvel {
namespace bench {

std::unique_ptr<QuarvelTOFSensor> ReplayComponents::makeSensor() const {
    auto next = std::make_unique<ReplayingSensor>(frames, width, height);
    next->framePeriod = framePeriod;
    sensor = next.get();
    return next;
}

std::unique_ptr<QuarvelTOFSensor> ReplayComponents::makeCsiSensor(const char*, int) const {
    return makeSensor();
}

std::unique_ptr<QuarvelTOFSensor> ReplayComponents::makeUsbSensor(const std::string&, int) const {
    return makeSensor();
}

std::unique_ptr<QuarvelDevice> ReplayComponents::makeHqvgaDevice(int boardModel) const {
    return createHqvgaDevice(boardModel);
}

std::unique_ptr<QuarvelDevice> ReplayComponents::makeVgaDevice(int boardModel) const {
    return createVgaDevice(boardModel);
}

}  // namespace bench
}  // namespace Quarvel
