// Ground truth for the geometry tests: simulated scenes seen by the 240x180 sensor.
#pragma once

#include <cstdint>
#include <vector>

#include "device/HqvgaKernels.h"
#include "geometry/Intrinsics.h"
#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/Scene.h"

namespace Quarvel {
namespace geometrytest {

// The simulated lens as the geometry describes it.
inline Intrinsics simulatedLens(const sim::CameraGeometry& geometry) {
    const sim::Pinhole pinhole = sim::pinholeOf(geometry);
    Intrinsics intrinsics;
    intrinsics.width = geometry.width;
    intrinsics.height = geometry.height;
    intrinsics.fx = intrinsics.fy = pinhole.focal;
    intrinsics.cx = pinhole.centreX;
    intrinsics.cy = pinhole.centreY;
    return intrinsics;
}

// Depth as the 240x180 camera computes it (reference kernel, 4 m range) from frame
// `frame` of the synthesised raw sub-frames.
inline std::vector<float> measuredDepth(const sim::HqvgaRawSynthesis& sensor, uint64_t frame) {
    std::vector<uint16_t> raw(static_cast<size_t>(hqvga::kRawSamples));
    for (int subframe = 0; subframe < hqvga::kSubframes; ++subframe) {
        sensor.synthesize(frame, subframe, sim::HqvgaModulation::LongRange,
                          raw.data() + static_cast<size_t>(subframe) * hqvga::kPixels,
                          hqvga::kPixels);
    }
    std::vector<float> depth(hqvga::kPixels), amplitude(hqvga::kPixels), confidence(hqvga::kPixels);
    hqvga::phaseImageReference(reinterpret_cast<const uint8_t*>(raw.data()), 0, 4000,
                               hqvga::kFrequency4m, depth.data(), amplitude.data(),
                               confidence.data());
    return depth;
}

}  // namespace geometrytest
}  // namespace Quarvel
