// The nine exported entry points of the phase library.
#include <new>

#include "sdk/phase/si4c.h"
#include "sdk/phase/src/PhaseInstance.h"

namespace {

si4c::PhaseInstance* instanceOf(SiSDKHandle handle) {
    auto* instance = static_cast<si4c::PhaseInstance*>(handle);
    return instance != nullptr && instance->looksLive() ? instance : nullptr;
}

}  // namespace

extern "C" {

bool SiSDKCreate(SiSDKHandle* handle) {
    if (handle == nullptr) return false;
    *handle = nullptr;
    auto* instance = new (std::nothrow) si4c::PhaseInstance();
    if (instance == nullptr) return false;
    *handle = instance;
    return true;
}

bool SiSDKInit(SiSDKHandle handle, int width, int height) {
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr && instance->init(width, height);
}

bool SiSDKSetCaliData(SiSDKHandle handle, const void* data, size_t length) {
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr &&
           instance->setCalibration(static_cast<const uint8_t*>(data), length);
}

bool SiSDKSetConfig(SiSDKHandle handle, const char* directory) {
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr && instance->setConfigDirectory(directory);
}

bool SiSDKStart(SiSDKHandle handle) {
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr && instance->start();
}

bool SiSDKGetPhaseImage(SiSDKHandle handle, const void* raw, float* depth, float* amplitude,
                        float* confidence) {
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance != nullptr &&
           instance->process(static_cast<const uint8_t*>(raw), depth, amplitude, confidence);
}

int SiSDKIsSingleFreq(SiSDKHandle handle) {
    si4c::PhaseInstance* instance = instanceOf(handle);
    return instance == nullptr || instance->singleFrequency() ? 1 : 0;
}

bool SiSDKSetSingleFreq(SiSDKHandle handle, bool singleFrequency) {
    si4c::PhaseInstance* instance = instanceOf(handle);
    if (instance == nullptr) return false;
    instance->requestSingleFrequency(singleFrequency);
    return true;
}

void SiSDKDestroy(SiSDKHandle* handle) {
    if (handle == nullptr) return;
    delete instanceOf(*handle);
    *handle = nullptr;
}

}  // extern "C"
