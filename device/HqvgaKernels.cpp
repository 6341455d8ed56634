// Reference phase-to-depth and raw interleave of the 240x180 sensor.
// Built without floating-point contraction: the results must be exact floats.
#include "device/HqvgaKernels.h"

#include <cmath>

namespace Quarvel {
namespace hqvga {

namespace {
inline uint16_t loadSample(const uint8_t* raw, size_t index) {
    // Little-endian by definition of the sensor's sample format.
    return static_cast<uint16_t>(raw[2 * index] | (raw[2 * index + 1] << 8));
}
}  // namespace

PixelResult pixelFromDifferences(int y, int x, float scale) {
    float phase = static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
    if (phase < 0.0f) phase += kTwoPi;
    const float depth = (scale * phase) * 1000.0f;
    const double dx = x;
    const double dy = y;
    const float amplitude = static_cast<float>(0.5 * std::sqrt(dx * dx + dy * dy));
    return {depth, amplitude};
}

void phaseImageReference(const uint8_t* raw, unsigned rawShift, int range, float frequency,
                         float* depth, float* amplitude, float* confidence) {
    const float scale = depthScale(frequency);
    const bool shortRange = range == 2000;
    for (int i = 0; i < kPixels; ++i) {
        const int p0 = decodeSample(loadSample(raw, i), rawShift);
        const int p1 = decodeSample(loadSample(raw, i + kPixels), rawShift);
        const int p2 = decodeSample(loadSample(raw, i + 2 * kPixels), rawShift);
        const int p3 = decodeSample(loadSample(raw, i + 3 * kPixels), rawShift);
        const int y = shortRange ? 16 * (p1 - p3) : 16 * (p2 - p0);
        const int x = shortRange ? 16 * (p2 - p0) : 16 * (p3 - p1);
        const PixelResult pixel = pixelFromDifferences(y, x, scale);
        depth[i] = pixel.depth;
        amplitude[i] = pixel.amplitude;
        confidence[i] = pixel.amplitude;
    }
}

void rawInterleaveReference(const uint8_t* raw, unsigned rawShift, int16_t* rawPlane) {
    for (int line = 0; line < kHeight; ++line) {
        for (int sub = 0; sub < kSubframes; ++sub) {
            const size_t source = static_cast<size_t>(sub) * kPixels + line * kWidth;
            int16_t* out = rawPlane + static_cast<size_t>(4 * line + sub) * kWidth;
            for (int column = 0; column < kWidth; ++column) {
                out[column] =
                    static_cast<int16_t>(16 * decodeSample(loadSample(raw, source + column), rawShift));
            }
        }
    }
}

}  // namespace hqvga
}  // namespace Quarvel
