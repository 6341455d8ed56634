// The simulated sensor chip: its formats, controls, registers and the samples it produces.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/ThreadSafety.h"
#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/Scene.h"
#include "sim/scene/VgaRawSynthesis.h"

namespace Quarvel {
namespace sim {

enum class SimSensor { Hqvga, Vga };

// One frame size the chip can deliver.
struct FrameSize {
    uint32_t width;
    uint32_t height;
};

// The chip behind the sensor subdevice and the I2C address 0x0c. Its modulation follows the
// driver's range control (1: 2 m, 0: 4 m); its frame rate follows writes of register 0x0633.
// Samples are 12-bit values (0..4095) synthesised from the scene.
//
// Thread contract: thread-safe (controls arrive while the stream runs).
class SimSensorChip {
public:
    // Driver-private control selecting the 2 m range when nonzero.
    static constexpr uint32_t kRangeControl = 0x00981901;
    static constexpr int32_t kExposureMin = 1;
    static constexpr int32_t kExposureMax = 4000;

    SimSensorChip(SimSensor kind, const Scene& scene, uint64_t noiseSeed);

    SimSensor kind() const { return sensorKind; }
    // The size the chip reports before anyone sets one.
    FrameSize nativeSize() const;
    // The supported size nearest to the request, as a driver's set_fmt would pick it.
    FrameSize nearestSize(uint32_t width, uint32_t height) const;
    FrameSize activeSize() const;
    void setActiveSize(FrameSize size);
    // Raw sub-frames per frame: 4 phase sub-frames for HQVGA, one block frame for VGA.
    int subframesPerFrame() const { return sensorKind == SimSensor::Hqvga ? 4 : 1; }

    // V4L2 controls of the sensor subdevice: 0, or a negative errno.
    int setControl(uint32_t id, int32_t value);
    int getControl(uint32_t id, int32_t* value) const;
    bool shortRange() const;

    // A write message on the I2C bus to the chip (register address, then data).
    void writeRegisters(const uint8_t* bytes, size_t length);
    double framesPerSecond() const;

    // The samples of sub-frame `subframe` of frame `frame` at the given size and the current
    // modulation, row-major; deterministic. Returns the samples written (0 when capacity is
    // short or the chip has no such size).
    size_t synthesize(uint64_t frame, int subframe, FrameSize size, bool shortRangeMode,
                      uint16_t* samples, size_t capacity) const;

    // The synthesis behind the 240x180 frames (ground truth, noise bounds); HQVGA only.
    const HqvgaRawSynthesis* hqvga() const { return hqvgaSynthesis.get(); }
    // The synthesis of VGA frames of a given image width (640 or 320); VGA only.
    const VgaRawSynthesis* vga(uint32_t width) const;

private:
    const SimSensor sensorKind;
    std::unique_ptr<HqvgaRawSynthesis> hqvgaSynthesis;
    std::unique_ptr<VgaRawSynthesis> vgaFull;
    std::unique_ptr<VgaRawSynthesis> vgaHalf;

    mutable Mutex chipMutex;  // guards the state below
    FrameSize active GUARDED_BY(chipMutex);
    int32_t rangeControl GUARDED_BY(chipMutex) = 0;
    int32_t exposure GUARDED_BY(chipMutex) = 500;
    double frameRate GUARDED_BY(chipMutex);
};

}  // namespace sim
}  // namespace Quarvel
