// Replaying sensor: frames from memory, handed over unpaced or on a fixed clock.
#include "bench/support/ReplayingSensor.h"

#include <pthread.h>

#include <cstring>
#include <thread>

namespace Quarvel {
namespace bench {

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ReplayingSensor::ReplayingSensor(const std::vector<std::vector<uint8_t>>* replayed, uint32_t width,
                                 uint32_t height)
    : frames(replayed) {
    info.width = width;
    info.height = height;
    info.bit_width = 12;
    info.bpp = 2;
    info.connect = Connection::CSI;
}

int ReplayingSensor::open(CameraInfo& cameraInfo) {
    cameraInfo.width = info.width;
    cameraInfo.height = info.height;
    cameraInfo.bit_width = info.bit_width;
    cameraInfo.bpp = info.bpp;
    info = cameraInfo;
    return 0;
}

int ReplayingSensor::close() { return 0; }

int ReplayingSensor::start() {
    nextDue = std::chrono::steady_clock::now();
    return 0;
}

int ReplayingSensor::stop() { return 0; }

CameraInfo ReplayingSensor::getCameraInfo() { return info; }

int ReplayingSensor::getFrame(uint8_t* dst, uint64_t* timestamp) {
    if (!clockKnown.load(std::memory_order_relaxed)) {
        pthread_getcpuclockid(pthread_self(), &captureClockId);
        clockKnown.store(true);
    }
    if (framePeriod.count() > 0) {
        // Blocks like a dequeue waiting for the sensor.
        nextDue += framePeriod;
        std::this_thread::sleep_until(nextDue);
    }
    const uint64_t number = handedOver.load(std::memory_order_relaxed) + 1;
    const std::vector<uint8_t>& frame = (*frames)[number % frames->size()];
    const size_t bytes = static_cast<size_t>(info.width) * info.height * 2 * subframeCount;
    std::memcpy(dst, frame.data(), bytes < frame.size() ? bytes : frame.size());
    *timestamp = number;
    handoverNs[number % handoverNs.size()].store(steadyNowNs(), std::memory_order_relaxed);
    handedOver.store(number, std::memory_order_release);
    return 0;
}

int64_t ReplayingSensor::handedOverAt(uint64_t timestamp) const {
    return handoverNs[timestamp % handoverNs.size()].load(std::memory_order_relaxed);
}

int ReplayingSensor::setControl(CameraCtrl ctrl, int value) {
    if (ctrl == CameraCtrl::FRAME_RATE) frameRate = value;
    return 0;
}

int ReplayingSensor::getControl(CameraCtrl ctrl, int* value) {
    if (ctrl == CameraCtrl::FRAME_RATE) {
        *value = frameRate;
        return 0;
    }
    return 1;
}

}  // namespace bench
}  // namespace Quarvel
