// A library instance owned by a test, and the planes it fills.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sdk/phase/si4c.h"
#include "tests/phase/PhaseTestSupport.h"

namespace phase_test {

// Configuration that switches every filter off, so that each pixel stands alone.
inline const char* kFiltersOff =
    "TDenoiseLevel_Depth=0\nSDenoiseLevel_Depth=0\nTDenoiseLevel_Gray=0\nSDenoiseLevel_Gray=0\n";

// "ConfigAlgorithm.json" as the camera writes it.
inline const char* kDefaultAlgorithmText =
    "[DenoisingParams]\nTDenoiseLevel_Depth=3\nSDenoiseLevel_Depth=3\nTDenoiseMethod_Depth=1\n"
    "SDenoiseMethod_Depth=1\nTDenoiseLevel_Gray=1\nSDenoiseLevel_Gray=1\nTDenoiseMethod_Gray=1\n"
    "SDenoiseMethod_Gray=1\n\n[RepairParams]\nERDOLvl=3\n\n[ConfidenceParams]\nValidDistMin=0\n"
    "ValidDistMax=7000\n";

struct Planes {
    Planes(int width, int height)
        : depth(static_cast<size_t>(width) * height, -1.0f), amplitude(depth), confidence(depth) {}
    std::vector<float> depth, amplitude, confidence;
};

class LibraryInstance {
public:
    LibraryInstance() { created = SiSDKCreate(&handle); }
    ~LibraryInstance() { SiSDKDestroy(&handle); }
    LibraryInstance(const LibraryInstance&) = delete;
    LibraryInstance& operator=(const LibraryInstance&) = delete;

    // Init + Start; the working directory supplies "ConfigAlgorithm.json".
    bool startStream(int width, int height, bool dualFrequency) {
        SiSDKSetSingleFreq(handle, !dualFrequency);
        return SiSDKInit(handle, width, height) && SiSDKStart(handle);
    }
    bool process(const std::vector<uint8_t>& raw, Planes& planes) {
        return SiSDKGetPhaseImage(handle, raw.data(), planes.depth.data(), planes.amplitude.data(),
                                  planes.confidence.data());
    }

    SiSDKHandle handle = nullptr;
    bool created = false;
};

inline SyntheticScene wallAt(double distanceMm, int width, int height) {
    SyntheticScene scene;
    scene.width = width;
    scene.height = height;
    scene.distanceMm = [distanceMm](int, int) { return distanceMm; };
    return scene;
}

inline std::vector<uint8_t> frameOf(const SyntheticScene& scene, bool dual) {
    SynthesisOptions options;
    options.dualFrequency = dual;
    return synthesiseFrame(scene, options);
}

// Distance error modulo an unambiguous range (a reading of 1249.9 for 0 is off by 0.1).
inline double modularError(double measured, double truth, double range) {
    double error = std::fmod(measured - truth, range);
    if (error > range / 2) error -= range;
    if (error < -range / 2) error += range;
    return error;
}

}  // namespace phase_test
