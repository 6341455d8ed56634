// The production phase library: plain forwarding to the linked libsi4c.
#include "device/PhaseLibrary.h"

namespace Quarvel {

namespace {

class LinkedSi4c final : public PhaseLibrary {
public:
    bool create(SiSDKHandle* handle) override { return SiSDKCreate(handle); }
    bool init(SiSDKHandle handle, int width, int height) override {
        return SiSDKInit(handle, width, height);
    }
    bool setCaliData(SiSDKHandle handle, const void* data, size_t length) override {
        return SiSDKSetCaliData(handle, data, length);
    }
    bool setConfig(SiSDKHandle handle, const char* directory) override {
        return SiSDKSetConfig(handle, directory);
    }
    bool start(SiSDKHandle handle) override { return SiSDKStart(handle); }
    bool getPhaseImage(SiSDKHandle handle, const void* raw, float* depth, float* amplitude,
                       float* confidence) override {
        return SiSDKGetPhaseImage(handle, raw, depth, amplitude, confidence);
    }
    int isSingleFreq(SiSDKHandle handle) override { return SiSDKIsSingleFreq(handle); }
    bool setSingleFreq(SiSDKHandle handle, bool singleFrequency) override {
        return SiSDKSetSingleFreq(handle, singleFrequency);
    }
    void destroy(SiSDKHandle* handle) override { SiSDKDestroy(handle); }
};

}  // namespace

PhaseLibrary& si4cLibrary() {
    static LinkedSi4c library;
    return library;
}

}  // namespace Quarvel
