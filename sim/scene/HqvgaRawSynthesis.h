// Raw sub-frames of the 240x180 sensor synthesised from a scene's ground truth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/scene/Scene.h"
#include "sim/scene/SensorNoise.h"

namespace Quarvel {
namespace sim {

// The sensor's two modulation settings, chosen by its range registers.
enum class HqvgaModulation {
    LongRange,   // 37.5 MHz, unambiguous up to 4000 mm
    ShortRange,  // 75 MHz, unambiguous up to 2000 mm
};

struct HqvgaSensorParams {
    // Differential amplitude (LSB) of a white surface facing the camera at the scene's
    // reference distance.
    double signalLsb = 900.0;
    // Charge per tap (LSB) that full ambient light on a white surface adds.
    double ambientLsb = 120.0;
    // A tap holds at most this much charge (LSB); beyond it the pixel saturates.
    double tapFullScaleLsb = 1800.0;
    NoiseModel noise;
};

// The pixel is a two-tap demodulator: each sub-frame reads the difference of its taps,
//   sample_k = a cos(phi - theta_k) + noise,   phi = 4 pi f d / c  (c = 3e8 m/s),
// where a falls with reflectivity and distance squared, ambient light adds charge (and
// shot noise) to both taps but cancels in the difference, and theta_k is the delay of the
// reference clock in sub-frame k. The sensor steps that delay down by 90 degrees per
// sub-frame, starting at 270 degrees in the long range and at 180 degrees in the short
// range, which is what the sub-frame pairing of each range expects:
//   long range:  P2 - P0 = 2a sin(phi), P3 - P1 = 2a cos(phi)
//   short range: P1 - P3 = 2a sin(phi), P2 - P0 = 2a cos(phi)
// A sample is 12 bits: the 11-bit two's complement value in bits 0..10 (-1024..1023) and
// its sign repeated in bit 11. Distances beyond c / (2f) wrap around.
class HqvgaRawSynthesis {
public:
    static constexpr int kWidth = 240;
    static constexpr int kHeight = 180;
    static constexpr int kSubframes = 4;
    static constexpr int kPixels = kWidth * kHeight;
    static constexpr int kSampleMin = -1024;
    static constexpr int kSampleMax = 1023;

    // `truth` must be a 240x180 view; a view of another size yields no pixels.
    HqvgaRawSynthesis(const GroundTruth& truth, const HqvgaSensorParams& params);

    static double modulationFrequencyHz(HqvgaModulation modulation);
    static double unambiguousRangeMm(HqvgaModulation modulation);
    static int phaseStepDegrees(HqvgaModulation modulation, int subframe);

    // Writes sub-frame `subframe` (0..3) of frame `frame` into dst, kPixels samples.
    // Returns the samples written: kPixels, or 0 when capacity (in samples) is too small
    // or subframe is out of range. Deterministic in (params, frame, subframe, modulation).
    // Thread-safe: const and allocation-free.
    size_t synthesize(uint64_t frame, int subframe, HqvgaModulation modulation, uint16_t* dst,
                      size_t capacity) const;

    // Noise-free differential amplitude a of a pixel (LSB).
    float amplitudeLsb(int pixel) const { return amplitude[pixel]; }
    // Standard deviation of a sample's noise (LSB); the noise never exceeds
    // NoiseModel::kLimitSigmas times it, and rounding adds at most half an LSB.
    float noiseSigmaLsb(int pixel) const { return sigma[pixel]; }
    // True when a tap or the 11-bit value can clip for this pixel, noise included.
    bool saturated(int pixel, HqvgaModulation modulation) const;

    const GroundTruth& groundTruth() const { return truth; }
    const HqvgaSensorParams& parameters() const { return params; }

private:
    const std::vector<float>& meansOf(HqvgaModulation modulation) const;

    GroundTruth truth;
    HqvgaSensorParams params;
    std::vector<float> amplitude;
    std::vector<float> sigma;
    // Noise-free sample of each sub-frame, per modulation: [subframe * kPixels + pixel].
    std::vector<float> longRangeMeans;
    std::vector<float> shortRangeMeans;
    std::vector<uint8_t> longRangeSaturated;
    std::vector<uint8_t> shortRangeSaturated;
};

}  // namespace sim
}  // namespace Quarvel
