// Tilted-wall scene for the 240x180 sensor: phase samples of a known depth ramp with noise.
#include "bench/support/HqvgaScene.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "device/HqvgaKernels.h"

namespace Quarvel {
namespace bench {

std::vector<std::vector<uint8_t>> synthesiseHqvgaFrames(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 6.0);
    const double pi = 3.14159265358979323846;
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f < count; ++f) {
        std::vector<uint8_t> raw(hqvga::kRawBytes);
        for (int row = 0; row < hqvga::kHeight; ++row) {
            for (int column = 0; column < hqvga::kWidth; ++column) {
                const double millimetres =
                    500.0 + 3000.0 * (column + row) / (hqvga::kWidth + hqvga::kHeight - 2.0);
                const double phase = 2.0 * pi * millimetres / 4000.0;
                const double amplitude = 900.0 * 500.0 / millimetres;
                const int pixel = row * hqvga::kWidth + column;
                for (int sub = 0; sub < 4; ++sub) {
                    // P_k = -A sin(phase + k pi/2) gives y = 2A sin(phase), x = 2A cos(phase).
                    const double value = -amplitude * std::sin(phase + sub * pi / 2) + noise(rng);
                    const int sample =
                        std::clamp(static_cast<int>(std::lround(value)), -1024, 1023);
                    const uint16_t word = static_cast<uint16_t>(sample & 0x7FF);
                    const size_t at = 2 * (static_cast<size_t>(sub) * hqvga::kPixels + pixel);
                    raw[at] = static_cast<uint8_t>(word & 0xFF);
                    raw[at + 1] = static_cast<uint8_t>(word >> 8);
                }
            }
        }
        frames.push_back(std::move(raw));
    }
    return frames;
}

}  // namespace bench
}  // namespace Quarvel
