// Simulated sensor chip: sizes, controls, frame-rate register and sample synthesis.
#include "sim/kernel/SimSensorChip.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace Quarvel {
namespace sim {

namespace {

constexpr double kHqvgaDefaultRate = 30.0;
// A VGA frame is 20 times the samples of an HQVGA sub-frame: a gentler default keeps the
// simulation light on small machines.
constexpr double kVgaDefaultRate = 10.0;
constexpr double kHorizontalFov = 64.0;

std::vector<FrameSize> sizesOf(SimSensor kind) {
    if (kind == SimSensor::Hqvga) return {{240, 180}};
    return {{640, 480}, {640, 2405}, {640, 4810}, {320, 240}, {320, 1205}, {320, 2410}};
}

}  // namespace

SimSensorChip::SimSensorChip(SimSensor kind, const Scene& scene, uint64_t noiseSeed)
    : sensorKind(kind),
      active(nativeSize()),
      frameRate(kind == SimSensor::Hqvga ? kHqvgaDefaultRate : kVgaDefaultRate) {
    if (kind == SimSensor::Hqvga) {
        HqvgaSensorParams params;
        params.noise.seed = noiseSeed;
        hqvgaSynthesis = std::make_unique<HqvgaRawSynthesis>(
            scene.render(CameraGeometry{240, 180, kHorizontalFov}), params);
    } else {
        VgaSensorParams params;
        params.noise.seed = noiseSeed;
        vgaFull = std::make_unique<VgaRawSynthesis>(
            scene.render(CameraGeometry{640, 480, kHorizontalFov}), params);
        vgaHalf = std::make_unique<VgaRawSynthesis>(
            scene.render(CameraGeometry{320, 240, kHorizontalFov}), params);
    }
}

FrameSize SimSensorChip::nativeSize() const {
    return sensorKind == SimSensor::Hqvga ? FrameSize{240, 180} : FrameSize{640, 480};
}

FrameSize SimSensorChip::nearestSize(uint32_t width, uint32_t height) const {
    const std::vector<FrameSize> sizes = sizesOf(sensorKind);
    FrameSize best = sizes.front();
    long bestDistance = -1;
    for (const FrameSize& size : sizes) {
        const long distance = std::labs(static_cast<long>(size.width) - static_cast<long>(width)) +
                              std::labs(static_cast<long>(size.height) - static_cast<long>(height));
        if (bestDistance < 0 || distance < bestDistance) {
            best = size;
            bestDistance = distance;
        }
    }
    return best;
}

FrameSize SimSensorChip::activeSize() const {
    MutexLock lock(chipMutex);
    return active;
}

void SimSensorChip::setActiveSize(FrameSize size) {
    MutexLock lock(chipMutex);
    active = nearestSize(size.width, size.height);
}

int SimSensorChip::setControl(uint32_t id, int32_t value) {
    MutexLock lock(chipMutex);
    if (id == kRangeControl) {
        if (value < 0 || value > 1) return -ERANGE;
        rangeControl = value;
        return 0;
    }
    if (id == V4L2_CID_EXPOSURE) {
        if (value < kExposureMin || value > kExposureMax) return -ERANGE;
        exposure = value;
        return 0;
    }
    return -EINVAL;
}

int SimSensorChip::getControl(uint32_t id, int32_t* value) const {
    MutexLock lock(chipMutex);
    if (id == kRangeControl) {
        *value = rangeControl;
        return 0;
    }
    if (id == V4L2_CID_EXPOSURE) {
        *value = exposure;
        return 0;
    }
    return -EINVAL;
}

bool SimSensorChip::shortRange() const {
    MutexLock lock(chipMutex);
    return rangeControl != 0;
}

void SimSensorChip::writeRegisters(const uint8_t* bytes, size_t length) {
    // Register 0x0633: frame rate, 32 bits big-endian.
    if (length == 6 && bytes[0] == 0x06 && bytes[1] == 0x33) {
        const uint32_t rate = (static_cast<uint32_t>(bytes[2]) << 24) |
                              (static_cast<uint32_t>(bytes[3]) << 16) |
                              (static_cast<uint32_t>(bytes[4]) << 8) | bytes[5];
        MutexLock lock(chipMutex);
        if (rate >= 1 && rate <= 120) frameRate = rate;
    }
}

double SimSensorChip::framesPerSecond() const {
    MutexLock lock(chipMutex);
    return frameRate;
}

const VgaRawSynthesis* SimSensorChip::vga(uint32_t width) const {
    if (width == 640) return vgaFull.get();
    if (width == 320) return vgaHalf.get();
    return nullptr;
}

size_t SimSensorChip::synthesize(uint64_t frame, int subframe, FrameSize size, bool shortRangeMode,
                                 uint16_t* samples, size_t capacity) const {
    const size_t count = static_cast<size_t>(size.width) * size.height;
    if (capacity < count) return 0;
    if (sensorKind == SimSensor::Hqvga) {
        if (size.width != 240 || size.height != 180) return 0;
        return hqvgaSynthesis->synthesize(
            frame, subframe,
            shortRangeMode ? HqvgaModulation::ShortRange : HqvgaModulation::LongRange, samples,
            capacity);
    }
    const VgaRawSynthesis* synthesis = vga(size.width);
    if (synthesis == nullptr) return 0;
    for (VgaFrequencyMode mode : {VgaFrequencyMode::Single, VgaFrequencyMode::Dual}) {
        if (static_cast<int>(size.height) == synthesis->rawLines(mode)) {
            return synthesis->synthesize(frame, mode, samples, capacity);
        }
    }
    // The image size itself: the first lines of a single-frequency frame.
    std::vector<uint16_t> whole(synthesis->rawSamples(VgaFrequencyMode::Single));
    if (synthesis->synthesize(frame, VgaFrequencyMode::Single, whole.data(), whole.size()) == 0) {
        return 0;
    }
    std::copy(whole.begin(), whole.begin() + static_cast<long>(std::min(count, whole.size())),
              samples);
    return count;
}

}  // namespace sim
}  // namespace Quarvel
