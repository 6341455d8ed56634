// One simulated USB ToF camera behind the stand-in SDK: pacing, synthesis, registers.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "core/ThreadSafety.h"
#include "sdk/usb/quarvel_evk_sdk.h"
#include "sdk/usb/quarvel_evk_sim.h"
#include "sim/scene/FramePacer.h"
#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/SimulatedCameraConfig.h"
#include "sim/scene/VgaRawSynthesis.h"

namespace Quarvel {
namespace evk {

// Thread-safe: any number of threads may call any member; captures are serialised.
class SimulatedUsbCamera {
public:
    // Distinct frames a camera with `pacing = replay` synthesises at init and hands out in
    // turn: frame n carries the samples of frame n mod kReplayFrames.
    static constexpr uint64_t kReplayFrames = 4;

    explicit SimulatedUsbCamera(const sim::SimulatedCameraConfig& config);

    int init() EXCLUDES(captureMutex, stateMutex);
    // Writes the configuration record (QUARVEL_CAMERA_CONFIG_SIZE bytes).
    void fillConfig(uint8_t* record) const;
    int start() EXCLUDES(stateMutex);
    int stop() EXCLUDES(stateMutex);
    // Stops and wakes every waiter; later calls fail. Called once, by close.
    void shutdown() EXCLUDES(stateMutex);

    // Blocks up to timeoutMs for the next sub-frame (or scripted capture).
    int capture(QuarvelImageFrame* frame, int timeoutMs) EXCLUDES(captureMutex, stateMutex);
    int release(const QuarvelImageFrame& frame) EXCLUDES(stateMutex);
    int writeRegister(uint16_t reg, uint8_t value) EXCLUDES(stateMutex);

    // Test bench.
    void queueFrame(uint64_t timestampMs, const void* data, uint32_t size) EXCLUDES(stateMutex);
    void queueMissedCapture() EXCLUDES(stateMutex);
    int framesLent() const EXCLUDES(stateMutex);
    bool findDelivery(uint64_t timestampMs, QuarvelSimDelivery& delivery) const
        EXCLUDES(stateMutex);

private:
    struct Buffer {
        std::vector<uint8_t> bytes;
        bool lent = false;
    };
    struct Scripted {
        bool missed = false;
        uint64_t timestampMs = 0;
        std::vector<uint8_t> bytes;
    };

    bool shortRangeRegisters() const REQUIRES(stateMutex);
    bool longRangeRegisters() const REQUIRES(stateMutex);
    // Index of a free buffer of this size, or -1.
    int lendBuffer(size_t bytes) REQUIRES(stateMutex);
    void synthesizeReplay() REQUIRES(captureMutex);  // fills `replayed`; called by init
    const std::vector<uint8_t>& replayedSubframe(const sim::SubframeSlot& slot,
                                                 sim::HqvgaModulation modulation) const
        REQUIRES(captureMutex);
    void fillFrameRecord(QuarvelImageFrame* frame, int buffer, uint64_t timestampMs,
                         uint64_t frameNumber, int subframe) const REQUIRES(stateMutex);
    void encodeSamples(const uint16_t* samples, size_t count, uint8_t* out) const;
    size_t bytesPerSample() const { return config.bitWidth > 8 ? 2 : 1; }

    const sim::SimulatedCameraConfig config;
    const int subframesPerFrame;  // of the pacer's timing, which never changes

    // One capture (or init) at a time: guards the synthesis built by init and `samples`.
    Mutex captureMutex;
    std::unique_ptr<sim::HqvgaRawSynthesis> hqvga GUARDED_BY(captureMutex);
    std::unique_ptr<sim::VgaRawSynthesis> vga GUARDED_BY(captureMutex);
    size_t samplesPerFrame GUARDED_BY(captureMutex) = 0;
    // Replay: the encoded sub-frames of the first kReplayFrames frames, per modulation
    // (long range first), [frame * sub-frames per frame + sub-frame].
    std::vector<std::vector<uint8_t>> replayed[2] GUARDED_BY(captureMutex);
    std::vector<uint16_t> samples GUARDED_BY(captureMutex);

    // Taken after captureMutex when both are held.
    mutable Mutex stateMutex;  // guards everything below
    ConditionVariable stateChanged;
    bool initialised GUARDED_BY(stateMutex) = false;
    bool streaming GUARDED_BY(stateMutex) = false;
    bool closed GUARDED_BY(stateMutex) = false;
    sim::FramePacer pacer GUARDED_BY(stateMutex);
    // 0x216C, 0x2179..0x217B
    uint8_t registers[4] GUARDED_BY(stateMutex) = {0x10, 0x0E, 0x16, 0x1E};
    sim::HqvgaModulation modulation GUARDED_BY(stateMutex) = sim::HqvgaModulation::LongRange;
    std::vector<Buffer> buffers GUARDED_BY(stateMutex);
    std::deque<Scripted> script GUARDED_BY(stateMutex);
    struct Delivery {
        uint64_t timestampMs;
        QuarvelSimDelivery what;
    };
    std::deque<Delivery> deliveries GUARDED_BY(stateMutex);
};

}  // namespace evk
}  // namespace Quarvel
