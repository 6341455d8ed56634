// Per-frame arithmetic of the 240x180 sensor: phase sub-frames to depth, and raw interleave.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarvel {
namespace hqvga {

constexpr int kWidth = 240;
constexpr int kHeight = 180;
constexpr int kSubframes = 4;
constexpr int kPixels = kWidth * kHeight;                  // 43200 per sub-frame
constexpr int kRawSamples = kPixels * kSubframes;          // 172800 per frame
constexpr size_t kRawBytes = sizeof(uint16_t) * kRawSamples;

constexpr float kFrequency4m = 3.75e7f;  // Hz, range 4000 mm
constexpr float kFrequency2m = 7.5e7f;   // Hz, range 2000 mm
constexpr float kTwoPi = 6.2831855f;
constexpr float kFourPi = 12.566371f;
constexpr float kSpeedOfLight = 3e8f;  // m/s as the sensor's calibration assumes

// The signed 11-bit phase value of one raw sample.
inline int decodeSample(uint16_t sample, unsigned rawShift) {
    const int field = (sample >> rawShift) & 0x7FF;
    return (field & 0x400) ? field - 0x800 : field;
}

// Millimetres per radian of phase, in the exact float order the depth formula fixes.
inline float depthScale(float modulationFrequency) {
    return kSpeedOfLight / (modulationFrequency * kFourPi);
}

// Depth and amplitude of one pixel from its two phase differences.
struct PixelResult {
    float depth;
    float amplitude;
};
PixelResult pixelFromDifferences(int y, int x, float scale);

// Whole-frame computation: `raw` holds four sub-frames of 43200 little-endian samples.
// range 2000 pairs (P1-P3, P2-P0), any other range (P2-P0, P3-P1). Reference version:
// the definition every faster version must match bit for bit.
void phaseImageReference(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                         float* depth, float* amplitude, float* confidence);

// 16 x decoded sample of each sub-frame, lines of the four sub-frames alternating from
// line 0 of the 240x720 RAW plane. `raw` holds kRawBytes, `rawPlane` kRawSamples values.
// rawInterleave is the vectorised one the device uses (HqvgaRawInterleave.cpp);
// rawInterleaveReference the plain definition it is tested and measured against.
void rawInterleave(const uint8_t* raw, unsigned rawShift, int16_t* rawPlane);
void rawInterleaveReference(const uint8_t* raw, unsigned rawShift, int16_t* rawPlane);

}  // namespace hqvga
}  // namespace Quarvel
