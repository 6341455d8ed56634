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

// Instances are tokens. Calls read "create", "init 640x480", "setCaliData 12", "setConfig /x",
// "start", "setSingleFreq 0", "destroy", with " (no instance)" for a handle that is not live.
// isSingleFreq and getPhaseImage are not listed.
class ScriptedPhaseLibrary : public Quarvel::PhaseLibrary {
public:
    ~ScriptedPhaseLibrary() override {
        for (SiSDKHandle handle : instances) delete static_cast<int*>(handle);
    }
    bool create(SiSDKHandle* handle) override {
        std::lock_guard<std::mutex> lock(stateMutex);
        log.push_back("create");
        if (!createResult) return false;
        instances.insert(*handle = new int(0));
        return true;
    }
    bool init(SiSDKHandle handle, int width, int height) override {
        return record("init " + std::to_string(width) + "x" + std::to_string(height), handle) &&
               initResult;
    }
    bool setCaliData(SiSDKHandle handle, const void* data, size_t length) override {
        calibrationBytes.assign(static_cast<const char*>(data), length);
        calibrationAddress = data;
        return record("setCaliData " + std::to_string(length), handle);
    }
    bool setConfig(SiSDKHandle handle, const char* directory) override {
        return record(std::string("setConfig ") + directory, handle);
    }
    bool start(SiSDKHandle handle) override { return record("start", handle) && startResult; }
    bool getPhaseImage(SiSDKHandle, const void* raw, float*, float*, float*) override {
        lastRaw = raw;
        return true;
    }
    int isSingleFreq(SiSDKHandle) override { return singleFrequency.load() ? 1 : 0; }
    bool setSingleFreq(SiSDKHandle handle, bool single) override {
        singleFrequency.store(single);
        return record(std::string("setSingleFreq ") + (single ? "1" : "0"), handle);
    }
    void destroy(SiSDKHandle* handle) override {
        onDestroy();
        if (record("destroy", *handle)) {
            std::lock_guard<std::mutex> lock(stateMutex);
            instances.erase(*handle);
            delete static_cast<int*>(*handle);
        }
        *handle = nullptr;
    }

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(stateMutex);
        return log;
    }
    int liveInstances() const {
        std::lock_guard<std::mutex> lock(stateMutex);
        return static_cast<int>(instances.size());
    }

    // Script.
    bool createResult = true, initResult = true, startResult = true;
    std::function<void()> onDestroy = [] {};  // runs before the instance goes
    // Observations (calibration: set on the thread that starts).
    std::atomic<bool> singleFrequency{true};
    std::string calibrationBytes;
    const void* calibrationAddress = nullptr;
    const void* lastRaw = nullptr;  // the raw frame of the last getPhaseImage

private:
    // Logs the call; true when `handle` is a live instance.
    bool record(const std::string& call, SiSDKHandle handle) {
        std::lock_guard<std::mutex> lock(stateMutex);
        const bool live = handle != nullptr && instances.count(handle) != 0;
        log.push_back(live ? call : call + " (no instance)");
        return live;
    }

    mutable std::mutex stateMutex;  // guards log and instances
    std::vector<std::string> log;
    std::set<SiSDKHandle> instances;
};

}  // namespace vga_test
