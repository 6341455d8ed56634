// The nine exported entry points of the phase library, and its test bench.
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "core/ThreadSafety.h"
#include "sdk/phase/si4c.h"
#include "sdk/phase/si4c_sim.h"
#include "sdk/phase/src/PhaseInstance.h"

namespace {

const char* const kFunctions[] = {"SiSDKCreate",        "SiSDKInit",         "SiSDKSetCaliData",
                                  "SiSDKSetConfig",     "SiSDKStart",        "SiSDKGetPhaseImage",
                                  "SiSDKSetSingleFreq", "SiSDKIsSingleFreq", "SiSDKDestroy"};
constexpr int kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];
constexpr int kFailableCount = 7;  // the first seven can report a failure

// Index of a library function's name in kFunctions, or -1.
int functionIndex(const char* name) {
    if (name == nullptr) return -1;
    for (int i = 0; i < kFunctionCount; ++i) {
        if (std::strcmp(kFunctions[i], name) == 0) return i;
    }
    return -1;
}

// Calls counted per function and the failures scripted for them (test bench). Fixed
// arrays: counting a frame's computation allocates nothing.
struct CallFaults {
    struct Rule {
        unsigned skip = 0;
        unsigned times = 0;
    };
    Quarvel::Mutex mutex;  // guards calls and rules
    uint64_t calls[kFunctionCount] GUARDED_BY(mutex) = {};
    Rule rules[kFunctionCount] GUARDED_BY(mutex) = {};
};

CallFaults& callFaults() {
    static CallFaults instance;
    return instance;
}

std::atomic<int> liveInstances{0};

// Counts a call of `function`; true when it must fail.
bool injectedFailure(const char* function) {
    const int index = functionIndex(function);
    if (index < 0) return false;
    CallFaults& faults = callFaults();
    Quarvel::MutexLock lock(faults.mutex);
    ++faults.calls[index];
    CallFaults::Rule& rule = faults.rules[index];
    if (rule.skip > 0) {
        --rule.skip;
        return false;
    }
    if (rule.times == 0) return false;
    --rule.times;
    return true;
}

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
    const int index = functionIndex(function);
    if (index < 0 || index >= kFailableCount) return -1;
    CallFaults& faults = callFaults();
    Quarvel::MutexLock lock(faults.mutex);
    faults.rules[index] = CallFaults::Rule{skip, times};
    return 0;
}

void SiSimClearFailures(void) {
    CallFaults& faults = callFaults();
    Quarvel::MutexLock lock(faults.mutex);
    for (CallFaults::Rule& rule : faults.rules) rule = CallFaults::Rule{};
}

uint64_t SiSimCallCount(const char* function) {
    const int index = functionIndex(function);
    if (index < 0) return 0;
    CallFaults& faults = callFaults();
    Quarvel::MutexLock lock(faults.mutex);
    return faults.calls[index];
}

int SiSimLiveInstances(void) { return liveInstances.load(); }

}  // extern "C"
