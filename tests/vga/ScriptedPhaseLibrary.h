// A phase library whose answers the test sets, recording every call in order.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/PhaseLibrary.h"

namespace vga_test {

class ScriptedPhaseLibrary : public Quarvel::PhaseLibrary {
public:
    ~ScriptedPhaseLibrary() override;

    bool create(SiSDKHandle* handle) override;
    bool init(SiSDKHandle handle, int width, int height) override;
    bool setCaliData(SiSDKHandle handle, const void* data, size_t length) override;
    bool setConfig(SiSDKHandle handle, const char* directory) override;
    bool start(SiSDKHandle handle) override;
    bool getPhaseImage(SiSDKHandle handle, const void* raw, float* depth, float* amplitude,
                       float* confidence) override;
    int isSingleFreq(SiSDKHandle handle) override;
    bool setSingleFreq(SiSDKHandle handle, bool singleFrequency) override;
    void destroy(SiSDKHandle* handle) override;

    // Script.
    bool createResult = true;
    bool initResult = true;
    bool startResult = true;
    bool phaseResult = true;
    // Runs inside destroy(), before the instance goes.
    std::function<void()> onDestroy = [] {};

    // Observations. Calls read "create", "init 640x480", "setCaliData 12", "setConfig /x",
    // "start", "setSingleFreq 0", "destroy", with " (no instance)" for a handle that is
    // not a live instance. isSingleFreq and getPhaseImage are counted, not listed.
    std::vector<std::string> calls() const;
    std::vector<std::string> callsExcept(const std::string& prefix) const;
    int liveInstances() const;
    std::string lastCalibrationBytes() const;
    const void* lastCalibrationAddress() const;
    std::atomic<bool> singleFrequency{true};
    std::atomic<int> phaseCalls{0};

private:
    bool live(SiSDKHandle handle) const;
    void record(const std::string& call, SiSDKHandle handle);

    mutable std::mutex stateMutex;  // guards everything below
    std::vector<std::string> log;
    std::set<SiSDKHandle> instances;
    std::string calibrationBytes;
    const void* calibrationAddress = nullptr;
};

}  // namespace vga_test
