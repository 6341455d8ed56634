// Synthesis of the 240x180 sensor's differential phase samples.
#include "sim/scene/HqvgaRawSynthesis.h"

#include <algorithm>
#include <cmath>

namespace Quarvel {
namespace sim {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kSpeedOfLight = 3e8;  // m/s, as the sensor's calibration assumes
constexpr int kLongRangeSteps[4] = {270, 180, 90, 0};
constexpr int kShortRangeSteps[4] = {180, 90, 0, 270};
}  // namespace

double HqvgaRawSynthesis::modulationFrequencyHz(HqvgaModulation modulation) {
    return modulation == HqvgaModulation::ShortRange ? 75e6 : 37.5e6;
}

double HqvgaRawSynthesis::unambiguousRangeMm(HqvgaModulation modulation) {
    return 1000.0 * kSpeedOfLight / (2.0 * modulationFrequencyHz(modulation));
}

int HqvgaRawSynthesis::phaseStepDegrees(HqvgaModulation modulation, int subframe) {
    if (subframe < 0 || subframe >= kSubframes) return 0;
    return modulation == HqvgaModulation::ShortRange ? kShortRangeSteps[subframe]
                                                     : kLongRangeSteps[subframe];
}

HqvgaRawSynthesis::HqvgaRawSynthesis(const GroundTruth& groundTruth,
                                     const HqvgaSensorParams& sensorParams)
    : truth(groundTruth), params(sensorParams) {
    const bool fits = truth.width == kWidth && truth.height == kHeight;
    const int pixels = fits ? kPixels : 0;
    amplitude.assign(pixels, 0.0f);
    sigma.assign(pixels, 0.0f);
    longRangeMeans.assign(static_cast<size_t>(pixels) * kSubframes, 0.0f);
    shortRangeMeans.assign(static_cast<size_t>(pixels) * kSubframes, 0.0f);
    longRangeSaturated.assign(pixels, 0);
    shortRangeSaturated.assign(pixels, 0);

    for (int i = 0; i < pixels; ++i) {
        // A mixed pixel adds the phasors of the two surfaces it sees.
        GroundTruth::Return returns[2];
        const int surfaces = truth.returns(i, returns);
        double a = 0;
        for (int r = 0; r < surfaces; ++r) a += params.signalLsb * returns[r].signal;
        const double ambient = params.ambientLsb * truth.ambient[i];
        amplitude[i] = static_cast<float>(a);
        // Both taps together hold the ambient twice and the active light once.
        const double noise = params.noise.sigma(2.0 * ambient + a, 2);
        sigma[i] = static_cast<float>(noise);
        const double limit = NoiseModel::kLimitSigmas * noise + 0.5;

        for (HqvgaModulation modulation :
             {HqvgaModulation::LongRange, HqvgaModulation::ShortRange}) {
            std::vector<float>& means =
                modulation == HqvgaModulation::ShortRange ? shortRangeMeans : longRangeMeans;
            bool clipped = false;
            for (int k = 0; k < kSubframes; ++k) {
                const double theta = phaseStepDegrees(modulation, k) * kPi / 180.0;
                // correlation: sum of a_r cos(phi_r - theta) / a over the surfaces
                double correlation = 0;
                for (int r = 0; r < surfaces; ++r) {
                    const double phi =
                        2.0 * kPi * returns[r].distanceMm / unambiguousRangeMm(modulation);
                    const double weight =
                        surfaces == 1 || a <= 0 ? 1.0 : params.signalLsb * returns[r].signal / a;
                    correlation += weight * std::cos(phi - theta);
                }
                const double tapA = ambient + 0.5 * a * (1.0 + correlation);
                const double tapB = ambient + 0.5 * a * (1.0 - correlation);
                const double full = params.tapFullScaleLsb;
                if (tapA > full || tapB > full) clipped = true;
                const double mean = std::min(tapA, full) - std::min(tapB, full);
                if (mean + limit > kSampleMax || mean - limit < kSampleMin) clipped = true;
                means[static_cast<size_t>(k) * kPixels + i] = static_cast<float>(mean);
            }
            (modulation == HqvgaModulation::ShortRange ? shortRangeSaturated
                                                       : longRangeSaturated)[i] = clipped;
        }
    }
}

const std::vector<float>& HqvgaRawSynthesis::meansOf(HqvgaModulation modulation) const {
    return modulation == HqvgaModulation::ShortRange ? shortRangeMeans : longRangeMeans;
}

bool HqvgaRawSynthesis::saturated(int pixel, HqvgaModulation modulation) const {
    const auto& flags =
        modulation == HqvgaModulation::ShortRange ? shortRangeSaturated : longRangeSaturated;
    return flags[pixel] != 0;
}

size_t HqvgaRawSynthesis::synthesize(uint64_t frame, int subframe, HqvgaModulation modulation,
                                     uint16_t* dst, size_t capacity) const {
    if (subframe < 0 || subframe >= kSubframes) return 0;
    const size_t pixels = amplitude.size();
    if (dst == nullptr || capacity < pixels) return 0;
    const float* means = meansOf(modulation).data() + static_cast<size_t>(subframe) * pixels;
    const uint64_t stream = params.noise.stream(frame, static_cast<uint64_t>(subframe));
    const bool noisy = params.noise.enabled;
    for (size_t i = 0; i < pixels; ++i) {
        double value = means[i];
        if (noisy) value += sigma[i] * NoiseModel::variate(stream, i);
        const double rounded = std::floor(value + 0.5);
        const int sample =
            static_cast<int>(std::clamp(rounded, double(kSampleMin), double(kSampleMax)));
        dst[i] = static_cast<uint16_t>(sample & 0xFFF);
    }
    return pixels;
}

}  // namespace sim
}  // namespace Quarvel
