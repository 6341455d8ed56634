// One instance of the phase library: what the nine entry points act on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sdk/phase/src/AlgorithmConfig.h"
#include "sdk/phase/src/DepthPipeline.h"

namespace si4c {

// Thread contract as in si4c.h: process() on one thread; singleFrequency() and
// requestSingleFrequency() from any thread at any time; everything else never while
// process() runs.
class PhaseInstance {
public:
    static constexpr uint32_t kLiveTag = 0x53493443;  // "SI4C"
    static constexpr int kMaxDimension = 4096;

    PhaseInstance() = default;
    ~PhaseInstance() { *static_cast<volatile uint32_t*>(&tag) = 0; }
    PhaseInstance(const PhaseInstance&) = delete;
    PhaseInstance& operator=(const PhaseInstance&) = delete;

    // Cheap guard against handles that are not (or no longer) instances.
    bool looksLive() const { return tag == kLiveTag; }

    bool init(int width, int height);
    bool setCalibration(const uint8_t* data, size_t length);
    bool setConfigDirectory(const char* directory);
    bool start();
    bool process(const uint8_t* raw, float* depth, float* amplitude, float* confidence);

    bool singleFrequency() const { return singleFrequencyRequested.load(); }
    void requestSingleFrequency(bool single) { singleFrequencyRequested.store(single); }

    // What the next start() will use (for tests and diagnostics).
    const AlgorithmParams& pendingParams() const { return params; }
    bool calibrated() const { return hasCalibration; }

private:
    uint32_t tag = kLiveTag;
    std::atomic<bool> singleFrequencyRequested{true};
    int width = 0;
    int height = 0;
    bool initialised = false;
    bool started = false;
    AlgorithmParams params;
    std::vector<float> calibration;  // SI4C_CALIBRATION_TABLES x width x height
    bool hasCalibration = false;
    DepthPipeline pipeline;
};

}  // namespace si4c
