// The VGA device's view of the phase library: the nine calls behind one interface.
#pragma once

#include <cstddef>

#include "sdk/phase/si4c.h"

namespace Quarvel {

// Each operation forwards to the SiSDK function of the same name (see si4c.h for the
// contracts). The device calls the library only through this interface, so that tests can
// script the library's answers. Thread contract as in si4c.h.
class PhaseLibrary {
public:
    virtual ~PhaseLibrary() = default;
    virtual bool create(SiSDKHandle* handle) = 0;
    virtual bool init(SiSDKHandle handle, int width, int height) = 0;
    virtual bool setCaliData(SiSDKHandle handle, const void* data, size_t length) = 0;
    virtual bool setConfig(SiSDKHandle handle, const char* directory) = 0;
    virtual bool start(SiSDKHandle handle) = 0;
    virtual bool getPhaseImage(SiSDKHandle handle, const void* raw, float* depth, float* amplitude,
                               float* confidence) = 0;
    virtual int isSingleFreq(SiSDKHandle handle) = 0;
    virtual bool setSingleFreq(SiSDKHandle handle, bool singleFrequency) = 0;
    virtual void destroy(SiSDKHandle* handle) = 0;
};

// The linked libsi4c (the stand-in or the vendor's). Lives for the whole program.
PhaseLibrary& si4cLibrary();

}  // namespace Quarvel
