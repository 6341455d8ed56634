// The pass-through device: the sensor's frame as the RAW plane.
#include "tests/contract/RawPassThroughDevice.h"

#include <cstring>

namespace Quarvel {
namespace contract {

int RawPassThroughDevice::getFrameFormats(FrameLayout* raw, FrameLayout* output) {
    if (sensor == nullptr) return QuarvelUnkownError;
    const CameraInfo info = sensor->getCameraInfo();
    if (raw) *raw = {2, static_cast<int32_t>(info.width), static_cast<int32_t>(info.height)};
    if (output) *output = {2, static_cast<int32_t>(info.width), static_cast<int32_t>(info.height)};
    return QuarvelSuccess;
}

int RawPassThroughDevice::open(QuarvelTOFSensor* boundSensor) {
    if (boundSensor == nullptr) return QuarvelInvalidParameter;
    sensor = boundSensor;
    return QuarvelSuccess;
}

bool RawPassThroughDevice::getRawImages(const uint8_t* raw, int16_t* rawPlane) {
    if (raw == nullptr || rawPlane == nullptr || sensor == nullptr) return false;
    const CameraInfo info = sensor->getCameraInfo();
    // The plane and the cache were both sized from this frame at start.
    std::memcpy(rawPlane, raw, static_cast<size_t>(info.width) * info.height * sizeof(int16_t));
    return true;
}

}  // namespace contract
}  // namespace Quarvel
