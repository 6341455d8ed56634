// A sensor transport that replays pre-synthesised raw frames, unpaced or at a fixed rate.
#pragma once

#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "core/QuarvelTOFSensor.h"

namespace Quarvel {
namespace bench {

// Hands out the frames in turn, copying each into the camera's cache like a CSI transport
// copies a DMA buffer. Frame n (from 1) carries timestamp n; the moment getFrame hands it
// over is kept so that a consumer can measure its latency.
class ReplayingSensor : public QuarvelTOFSensor {
public:
    // `frames` each hold width x height x 4 samples; not owned, must outlive the sensor.
    ReplayingSensor(const std::vector<std::vector<uint8_t>>* frames, uint32_t width,
                    uint32_t height);

    int open(CameraInfo& info) override;
    int close() override;
    int start() override;
    int stop() override;
    CameraInfo getCameraInfo() override;
    int getFrame(uint8_t* dst, uint64_t* timestamp) override;  // capture thread
    int setControl(CameraCtrl ctrl, int value) override;
    int getControl(CameraCtrl ctrl, int* value) override;

    // Zero: as fast as the camera asks. Otherwise frames are handed over on a fixed clock.
    // Set before start.
    std::chrono::nanoseconds framePeriod{0};

    // Steady-clock nanoseconds at which frame `timestamp` was handed over (the last 256 kept).
    int64_t handedOverAt(uint64_t timestamp) const;
    uint64_t framesHandedOver() const { return handedOver.load(); }
    // CPU clock of the thread that calls getFrame (the capture thread), valid once
    // captureClockKnown() is true.
    bool captureClockKnown() const { return clockKnown.load(); }
    clockid_t captureClock() const { return captureClockId; }

private:
    const std::vector<std::vector<uint8_t>>* frames;
    CameraInfo info{};
    std::array<std::atomic<int64_t>, 256> handoverNs{};
    std::atomic<uint64_t> handedOver{0};
    std::chrono::steady_clock::time_point nextDue{};
    clockid_t captureClockId{};
    std::atomic<bool> clockKnown{false};
    int frameRate = 30;
};

int64_t steadyNowNs();

}  // namespace bench
}  // namespace Quarvel
