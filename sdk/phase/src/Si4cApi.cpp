// The nine exported entry points of the phase library, and its test bench.
#include <atomic>
#include <cstring>
#include <new>

#include "sdk/CallFaultBench.h"
#include "sdk/phase/si4c.h"
#include "sdk/phase/si4c_sim.h"
#include "sdk/phase/src/PhaseInstance.h"

namespace {

const char* const kFunctions[] = {"SiSDKCreate",        "SiSDKInit",         "SiSDKSetCaliData",
                                  "SiSDKSetConfig",     "SiSDKStart",        "SiSDKGetPhaseImage",
                                  "SiSDKSetSingleFreq", "SiSDKIsSingleFreq", "SiSDKDestroy"};
constexpr size_t kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];
constexpr int kFailableCount = 7;  // the first seven can report a failure

// Calls counted and failures scripted (test bench).
Quarvel::CallFaultBench<kFunctionCount>& callFaults() {
    static Quarvel::CallFaultBench<kFunctionCount> bench(kFunctions);
    return bench;
}

std::atomic<int> liveInstances{0};

// Counts a call of `function`; true when it must fail.
bool injectedFailure(const char* function) { return callFaults().onCall(function) != 0; }

si4c::PhaseInstance* instanceOf(SiSDKHandle handle) {
    auto* instance = static_cast<si4c::PhaseInstance*>(handle);
    return instance != nullptr && instance->looksLive() ? instance : nullptr;
}

}  // namespace

extern "C" {

bool SiSDKCreate(SiSDKHandle* handle) {
    if (injectedFailure(__func__)) {
        if (handle != nullptr) *handle = nullptr;
        return false;
    }
    if (handle == nullptr) return false;
    *handle = nullptr;
    auto* instance = new (std::nothrow) si4c::PhaseInstance();
    if (instance == nullptr) return false;
    liveInstances.fetch_add(1);
    *handle = instance;
    return true;
}

bool SiSDKInit(SiSDKHandle handle, int width, int height) {
    if (injectedFailure(__func__)) return false;
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr && instance->init(width, height);
}

bool SiSDKSetCaliData(SiSDKHandle handle, const void* data, size_t length) {
    if (injectedFailure(__func__)) return false;
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr &&
           instance->setCalibration(static_cast<const uint8_t*>(data), length);
}

bool SiSDKSetConfig(SiSDKHandle handle, const char* directory) {
    if (injectedFailure(__func__)) return false;
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr && instance->setConfigDirectory(directory);
}

bool SiSDKStart(SiSDKHandle handle) {
    if (injectedFailure(__func__)) return false;
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr && instance->start();
}

bool SiSDKGetPhaseImage(SiSDKHandle handle, const void* raw, float* depth, float* amplitude,
                        float* confidence) {
    if (injectedFailure(__func__)) return false;
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr &&
           instance->process(static_cast<const uint8_t*>(raw), depth, amplitude, confidence);
}

int SiSDKIsSingleFreq(SiSDKHandle handle) {
    injectedFailure(__func__);  // counted only: it cannot report a failure
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance == nullptr || instance->singleFrequency() ? 1 : 0;
}

bool SiSDKSetSingleFreq(SiSDKHandle handle, bool singleFrequency) {
    if (injectedFailure(__func__)) return false;
    si4c::PhaseInstance* instance = instanceOf(handle);
    if (instance == nullptr) return false;
    instance->requestSingleFrequency(singleFrequency);
    return true;
}

void SiSDKDestroy(SiSDKHandle* handle) {
    injectedFailure(__func__);  // counted only: it cannot report a failure
    if (handle == nullptr) return;
    si4c::PhaseInstance* instance = instanceOf(*handle);
    if (instance != nullptr) liveInstances.fetch_sub(1);
    delete instance;
    *handle = nullptr;
}

int SiSimFailCall(const char* function, unsigned skip, unsigned times) {
    if (callFaults().indexOf(function) >= kFailableCount) return -1;
    return callFaults().fail(function, 1, skip, times);
}

void SiSimClearFailures(void) { callFaults().clear(); }

uint64_t SiSimCallCount(const char* function) { return callFaults().callCount(function); }

int SiSimLiveInstances(void) { return liveInstances.load(); }

}  // extern "C"
