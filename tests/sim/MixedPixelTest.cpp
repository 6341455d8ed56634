// Pixels on a depth edge return the phasor sum of the two surfaces they see.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/Scene.h"

using namespace Quarvel::sim;

namespace {

constexpr double kPi = 3.14159265358979323846;

int decoded(uint16_t sample) {
    return (sample & 0x400) ? int(sample & 0x7FF) - 0x800 : sample & 0x7FF;
}

}  // namespace

TEST(MixedPixel, SensorMeasuresThePhaseOfTheSumOfBothReturns) {
    CameraGeometry geometry{240, 180, 64.0};
    geometry.subpixelSamples = 4;
    const GroundTruth truth = Scene::standard(1).render(geometry);
    HqvgaSensorParams params;
    params.noise.enabled = false;
    const HqvgaRawSynthesis sensor(truth, params);
    std::vector<std::vector<uint16_t>> sub(4, std::vector<uint16_t>(HqvgaRawSynthesis::kPixels));
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(sensor.synthesize(0, k, HqvgaModulation::LongRange, sub[k].data(), sub[k].size()),
                  size_t(HqvgaRawSynthesis::kPixels));
    }
    const double range = HqvgaRawSynthesis::unambiguousRangeMm(HqvgaModulation::LongRange);
    int checked = 0, between = 0;
    for (int i = 0; i < HqvgaRawSynthesis::kPixels; ++i) {
        if (!truth.mixed(i) || sensor.saturated(i, HqvgaModulation::LongRange)) continue;
        GroundTruth::Return returns[2];
        ASSERT_EQ(truth.returns(i, returns), 2);
        double sine = 0, cosine = 0;
        for (const GroundTruth::Return& r : returns) {
            sine += r.signal * std::sin(2 * kPi * r.distanceMm / range);
            cosine += r.signal * std::cos(2 * kPi * r.distanceMm / range);
        }
        const double expected = std::atan2(sine, cosine);
        // Long range: P2 - P0 = 2a sin(phi), P3 - P1 = 2a cos(phi).
        const double measured = std::atan2(decoded(sub[2][i]) - decoded(sub[0][i]),
                                           decoded(sub[3][i]) - decoded(sub[1][i]));
        const double amplitude = sensor.amplitudeLsb(i);
        if (amplitude < 50) continue;  // rounding alone moves a faint pixel's phase
        double error = std::fabs(measured - expected);
        error = std::min(error, 2 * kPi - error);
        EXPECT_LT(error, 2.0 / amplitude) << "pixel " << i;
        ++checked;
        // The mixed distance lies between the surfaces, off both.
        double distance = measured * range / (2 * kPi);
        if (distance < 0) distance += range;
        const double near = std::min(returns[0].distanceMm, returns[1].distanceMm);
        const double far = std::max(returns[0].distanceMm, returns[1].distanceMm);
        between += distance > near - 10 && distance < far + 10;
    }
    EXPECT_GT(checked, 150);
    EXPECT_GE(between, checked * 95 / 100);
}
