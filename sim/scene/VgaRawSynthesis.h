// Raw frames of the 640x480 sensor synthesised from a scene's ground truth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/scene/Scene.h"
#include "sim/scene/SensorNoise.h"

namespace Quarvel {
namespace sim {

enum class VgaFrequencyMode {
    Single,  // one frequency, 5 blocks per frame
    Dual,    // two frequencies, 10 blocks per frame
};

struct VgaSensorParams {
    // Active light (LSB) of a white surface facing the camera at the scene's reference
    // distance.
    double signalLsb = 1600.0;
    // Share of the active light that is modulated: amplitude = contrast x active light.
    double modulationContrast = 0.8;
    // Level (LSB) that full ambient light on a white surface adds.
    double ambientLsb = 200.0;
    NoiseModel noise;
};

// Frames in the layout of sdk/phase/si4c_raw_layout.h: n blocks of (height + 1) lines,
// line 0 of a block its embedded data, then the image. Correlation block k of frequency f
//   C_k = offset + A cos(phi_f + k pi / 2),  phi_f = 2 pi d / R_f,
// with R_f the frequency's unambiguous range, A = contrast x active light and
// offset = ambient + active light; the grey block holds the offset. Samples are 12-bit,
// clipped to 0..4095 (saturation), noise from the pixel's mean level.
class VgaRawSynthesis {
public:
    // The view's width and height are the image's (e.g. 640x480 or 320x240).
    VgaRawSynthesis(const GroundTruth& truth, const VgaSensorParams& params);

    static int blocks(VgaFrequencyMode mode);
    static int frequencies(VgaFrequencyMode mode) { return mode == VgaFrequencyMode::Dual ? 2 : 1; }
    // c / (2 f) of frequency `index` (0 or 1) of the mode, millimetres.
    static int unambiguousRangeMm(VgaFrequencyMode mode, int index);

    int width() const { return truth.width; }
    int height() const { return truth.height; }
    // Lines and samples of a whole raw frame of the mode.
    int rawLines(VgaFrequencyMode mode) const;
    size_t rawSamples(VgaFrequencyMode mode) const;
    size_t blockSamples() const;

    // Writes the whole raw frame `frame` into dst; returns the samples written, or 0 when
    // capacity (in samples) is too small. Deterministic; thread-safe.
    size_t synthesize(uint64_t frame, VgaFrequencyMode mode, uint16_t* dst,
                      size_t capacity) const;
    // Writes block `block` (0 .. blocks(mode) - 1) alone, embedded line included.
    size_t synthesizeBlock(uint64_t frame, VgaFrequencyMode mode, int block, uint16_t* dst,
                           size_t capacity) const;

    // Noise-free correlation amplitude A, offset, and noise standard deviation (LSB).
    float amplitudeLsb(int pixel) const { return amplitude[pixel]; }
    float offsetLsb(int pixel) const { return offset[pixel]; }
    float noiseSigmaLsb(int pixel) const { return sigma[pixel]; }

    const GroundTruth& groundTruth() const { return truth; }

private:
    GroundTruth truth;
    VgaSensorParams params;
    std::vector<float> amplitude;
    std::vector<float> offset;
    std::vector<float> sigma;
    // A cos(phi) and A sin(phi) of each pixel at each unambiguous range in kRanges order.
    std::vector<float> inPhase[3];
    std::vector<float> quadrature[3];
};

}  // namespace sim
}  // namespace Quarvel
