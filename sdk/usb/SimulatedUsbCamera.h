// One simulated USB ToF camera behind the stand-in SDK: pacing, synthesis, registers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

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

    int init();
    // Writes the configuration record (QUARVEL_CAMERA_CONFIG_SIZE bytes).
    void fillConfig(uint8_t* record) const;
    int start();
    int stop();
    // Stops and wakes every waiter; later calls fail. Called once, by close.
    void shutdown();

    // Blocks up to timeoutMs for the next sub-frame (or scripted capture).
    int capture(QuarvelImageFrame* frame, int timeoutMs);
    int release(const QuarvelImageFrame& frame);
    int writeRegister(uint16_t reg, uint8_t value);

    // Test bench.
    void queueFrame(uint64_t timestampMs, const void* data, uint32_t size);
    void queueMissedCapture();
    int framesLent() const;
    bool findDelivery(uint64_t timestampMs, QuarvelSimDelivery& delivery) const;

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

    bool shortRangeRegisters() const;
    bool longRangeRegisters() const;
    int lendBuffer(size_t bytes);  // index of a free buffer of this size, or -1
    void synthesizeReplay();       // fills `replayed`; called by init
    const std::vector<uint8_t>& replayedSubframe(const sim::SubframeSlot& slot,
                                                 sim::HqvgaModulation modulation) const;
    void fillFrameRecord(QuarvelImageFrame* frame, int buffer, uint64_t timestampMs,
                         uint64_t frameNumber, int subframe) const;
    void encodeSamples(const uint16_t* samples, size_t count, uint8_t* out) const;
    size_t bytesPerSample() const { return config.bitWidth > 8 ? 2 : 1; }

    const sim::SimulatedCameraConfig config;
    // Built by init, read-only afterwards.
    std::unique_ptr<sim::HqvgaRawSynthesis> hqvga;
    std::unique_ptr<sim::VgaRawSynthesis> vga;
    size_t samplesPerFrame = 0;
    // Replay: the encoded sub-frames of the first kReplayFrames frames, per modulation
    // (long range first), [frame * sub-frames per frame + sub-frame].
    std::vector<std::vector<uint8_t>> replayed[2];

    std::mutex captureMutex;  // one capture at a time: owns `samples` and the pacer slot
    std::vector<uint16_t> samples;

    mutable std::mutex stateMutex;  // guards everything below
    std::condition_variable stateChanged;
    bool initialised = false;
    bool streaming = false;
    bool closed = false;
    sim::FramePacer pacer;
    uint8_t registers[4] = {0x10, 0x0E, 0x16, 0x1E};  // 0x216C, 0x2179..0x217B
    sim::HqvgaModulation modulation = sim::HqvgaModulation::LongRange;
    std::vector<Buffer> buffers;
    std::deque<Scripted> script;
    struct Delivery {
        uint64_t timestampMs;
        QuarvelSimDelivery what;
    };
    std::deque<Delivery> deliveries;
};

}  // namespace evk
}  // namespace Quarvel
