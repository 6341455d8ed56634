// The one-pass frame computation against the algorithm written step by step over whole
// planes: the same bits for every filter radius, both temporal filters, calibration, both
// frequency modes, and images smaller than the filter windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "sdk/phase/si4c_calibration_format.h"
#include "sdk/phase/si4c_raw_layout.h"
#include "sdk/phase/src/DepthPipeline.h"
#include "sdk/phase/src/FastPhase.h"

namespace {

using Plane = std::vector<float>;

struct Planes {
    Plane depth, amplitude, confidence;
};

// Mean filter as defined: rows (border columns summed from 0 and divided, inner columns
// summed left to right and multiplied by the reciprocal), then columns top to bottom.
Plane boxFilter(const Plane& in, int width, int height, int radius) {
    if (radius <= 0) return in;
    Plane rows(in.size()), out(in.size());
    for (int y = 0; y < height; ++y) {
        const float* row = in.data() + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            float sum;
            if (x < radius || x >= width - radius) {
                const int r = std::min(x, width - 1 - x);
                sum = 0.0f;
                for (int k = -r; k <= r; ++k) sum += row[x + k];
                sum = sum / static_cast<float>(2 * r + 1);
            } else {
                sum = row[x - radius];
                for (int k = -radius + 1; k <= radius; ++k) sum += row[x + k];
                sum = sum * (1.0f / static_cast<float>(2 * radius + 1));
            }
            rows[static_cast<size_t>(y) * width + x] = sum;
        }
    }
    for (int y = 0; y < height; ++y) {
        const int r = std::min(radius, std::min(y, height - 1 - y));
        for (int x = 0; x < width; ++x) {
            float sum = rows[static_cast<size_t>(y - r) * width + x];
            for (int k = -r + 1; k <= r; ++k) sum += rows[static_cast<size_t>(y + k) * width + x];
            out[static_cast<size_t>(y) * width + x] = sum * (1.0f / static_cast<float>(2 * r + 1));
        }
    }
    return out;
}

// The algorithm step by step: decode each frequency over the whole image, filter each
// plane, blend with the previous frame, then the per-pixel phase, unwrapping and validity.
class StepByStep {
public:
    explicit StepByStep(const si4c::StreamSetup& stream) : setup(stream) {
        const si4c::AlgorithmParams& p = setup.params;
        depthRadius =
            p.spatialDepthMethod == 1 ? si4c::spatialRadiusForLevel(p.spatialDepthLevel) : 0;
        grayRadius = p.spatialGrayMethod == 1 ? si4c::spatialRadiusForLevel(p.spatialGrayLevel) : 0;
        depthWeight =
            p.temporalDepthMethod == 1 ? si4c::temporalWeightForLevel(p.temporalDepthLevel) : 1.0f;
        grayWeight =
            p.temporalGrayMethod == 1 ? si4c::temporalWeightForLevel(p.temporalGrayLevel) : 1.0f;
    }

    Planes process(const std::vector<uint8_t>& raw) {
        const int w = setup.width, h = setup.height;
        const size_t pixels = static_cast<size_t>(w) * h;
        const int frequencies = setup.singleFrequency ? 1 : 2;
        const float share = 1.0f / static_cast<float>(frequencies);
        Plane inPhase[2], quadrature[2], amplitude(pixels), grey(pixels), clipped(pixels);
        for (int f = 0; f < frequencies; ++f) {
            inPhase[f].assign(pixels, 0.0f);
            quadrature[f].assign(pixels, 0.0f);
            for (size_t p = 0; p < pixels; ++p) {
                int c[SI4C_BLOCKS_PER_FREQUENCY];
                for (int k = 0; k < SI4C_BLOCKS_PER_FREQUENCY; ++k) {
                    c[k] = sample(raw, f * SI4C_BLOCKS_PER_FREQUENCY + k, p);
                }
                const bool clip = c[0] == SI4C_SAMPLE_MAX || c[1] == SI4C_SAMPLE_MAX ||
                                  c[2] == SI4C_SAMPLE_MAX || c[3] == SI4C_SAMPLE_MAX;
                const float i = clip ? 0.0f : static_cast<float>(c[0] - c[2]);
                const float q = clip ? 0.0f : static_cast<float>(c[3] - c[1]);
                const float a = 0.5f * std::sqrt(i * i + q * q) * share;
                const float g = static_cast<float>(c[4]) * share;
                inPhase[f][p] = i;
                quadrature[f][p] = q;
                amplitude[p] = f == 0 ? a : amplitude[p] + a;
                grey[p] = f == 0 ? g : grey[p] + g;
                clipped[p] =
                    f == 0 ? (clip ? 1.0f : 0.0f) : std::max(clipped[p], clip ? 1.0f : 0.0f);
            }
            inPhase[f] = boxFilter(inPhase[f], w, h, depthRadius);
            quadrature[f] = boxFilter(quadrature[f], w, h, depthRadius);
            if (depthWeight < 1.0f) {
                if (!primed) {
                    filteredInPhase[f] = inPhase[f];
                    filteredQuadrature[f] = quadrature[f];
                } else {
                    const float ratio = si4c::kTemporalResetRatio * si4c::kTemporalResetRatio;
                    for (size_t p = 0; p < pixels; ++p) {
                        const float x = inPhase[f][p], y = quadrature[f][p];
                        const float dx = x - filteredInPhase[f][p];
                        const float dy = y - filteredQuadrature[f][p];
                        const bool reset = dx * dx + dy * dy > ratio * (x * x + y * y);
                        filteredInPhase[f][p] =
                            reset ? x : filteredInPhase[f][p] + depthWeight * dx;
                        filteredQuadrature[f][p] =
                            reset ? y : filteredQuadrature[f][p] + depthWeight * dy;
                    }
                }
                inPhase[f] = filteredInPhase[f];
                quadrature[f] = filteredQuadrature[f];
            }
        }
        amplitude = boxFilter(amplitude, w, h, grayRadius);
        if (grayWeight < 1.0f) {
            if (!primed) {
                filteredAmplitude = amplitude;
            } else {
                for (size_t p = 0; p < pixels; ++p) {
                    const float difference = amplitude[p] - filteredAmplitude[p];
                    const bool reset =
                        std::fabs(difference) > si4c::kTemporalResetRatio * amplitude[p];
                    filteredAmplitude[p] =
                        reset ? amplitude[p] : filteredAmplitude[p] + grayWeight * difference;
                }
            }
            amplitude = filteredAmplitude;
        }
        primed = true;

        Planes out{Plane(pixels), amplitude, Plane(pixels)};
        for (size_t p = 0; p < pixels; ++p) {
            float distance, modulation;
            if (frequencies == 2) {
                const float first = SI4C_RANGE_DUAL_FIRST_MM, second = SI4C_RANGE_DUAL_SECOND_MM;
                const float combined = SI4C_RANGE_DUAL_COMBINED_MM;
                const float d1 = wrapped(inPhase[0][p], quadrature[0][p], first,
                                         offset(SI4C_CALIBRATION_TABLE_DUAL_FIRST, p));
                const float d2 = wrapped(inPhase[1][p], quadrature[1][p], second,
                                         offset(SI4C_CALIBRATION_TABLE_DUAL_SECOND, p));
                const float shifted =
                    std::min(std::max((d1 - d2) / (first / 2.0f) + 3.5f, 0.0f), 5.0f);
                const float m = static_cast<float>(static_cast<int>(shifted)) - 3.0f;
                const float n2 = m == -3.0f ? -1.0f : (std::fabs(m) == 1.0f ? 1.0f : 0.0f);
                const float n1 = (3.0f * n2 - m) * 0.5f;
                const float firstWeight = second * second / (first * first + second * second);
                distance =
                    firstWeight * (d1 + n1 * first) + (1.0f - firstWeight) * (d2 + n2 * second);
                distance = distance < 0.0f ? distance + combined : distance;
                distance = distance >= combined ? distance - combined : distance;
                modulation = 0.25f * (std::sqrt(inPhase[0][p] * inPhase[0][p] +
                                                quadrature[0][p] * quadrature[0][p]) +
                                      std::sqrt(inPhase[1][p] * inPhase[1][p] +
                                                quadrature[1][p] * quadrature[1][p]));
            } else {
                distance = wrapped(inPhase[0][p], quadrature[0][p], SI4C_RANGE_SINGLE_MM,
                                   offset(SI4C_CALIBRATION_TABLE_SINGLE, p));
                modulation = 0.5f * std::sqrt(inPhase[0][p] * inPhase[0][p] +
                                              quadrature[0][p] * quadrature[0][p]);
            }
            const float snr = modulation / std::sqrt(grey[p] + si4c::kReadNoiseSquared);
            const bool isClipped = clipped[p] != 0.0f;
            const float confidence = isClipped ? 0.0f : snr / (snr + si4c::kConfidenceHalfSnr);
            const si4c::AlgorithmParams& params = setup.params;
            const bool valid = !isClipped && confidence >= params.confidenceThreshold &&
                               distance >= params.validDistMinMm &&
                               distance <= params.validDistMaxMm;
            out.depth[p] = valid ? distance : 0.0f;
            out.confidence[p] = confidence;
        }
        return out;
    }

private:
    int sample(const std::vector<uint8_t>& raw, int block, size_t pixel) const {
        const size_t lines = static_cast<size_t>(setup.height) + SI4C_EMBEDDED_LINES;
        const size_t at = (block * lines + SI4C_EMBEDDED_LINES) * setup.width + pixel;
        return (raw[2 * at] | (raw[2 * at + 1] << 8)) & 0x0FFF;
    }
    float offset(int table, size_t pixel) const {
        if (setup.calibration == nullptr) return 0.0f;
        return setup.calibration[static_cast<size_t>(table) * setup.width * setup.height + pixel];
    }
    static float wrapped(float inPhase, float quadrature, float range, float offset) {
        float d = si4c::phaseAngle(quadrature, inPhase) * (range / si4c::kTwoPi) - offset;
        d = d < 0.0f ? d + range : d;
        return d >= range ? d - range : d;
    }

    si4c::StreamSetup setup;
    int depthRadius = 0, grayRadius = 0;
    float depthWeight = 1.0f, grayWeight = 1.0f;
    bool primed = false;
    Plane filteredInPhase[2], filteredQuadrature[2], filteredAmplitude;
};

// Raw frames of a noisy random scene: correlation samples around random phases and
// amplitudes, a few saturated samples, garbage in the high bits, valid embedded lines.
// Successive frames differ by a little noise (the temporal filters blend) and, in some
// pixels, by a jump (they restart).
class RandomFrames {
public:
    RandomFrames(int width, int height, bool dual, unsigned seed)
        : w(width), h(height), frequencies(dual ? 2 : 1), random(seed) {
        std::uniform_real_distribution<double> phase(0.0, 2.0 * M_PI), amplitude(0.0, 900.0);
        for (int f = 0; f < frequencies; ++f) {
            phases[f].resize(static_cast<size_t>(w) * h);
            amplitudes[f].resize(phases[f].size());
            for (size_t p = 0; p < phases[f].size(); ++p) {
                phases[f][p] = phase(random);
                amplitudes[f][p] = amplitude(random);
            }
        }
    }

    std::vector<uint8_t> next() {
        const int blocks = frequencies * SI4C_BLOCKS_PER_FREQUENCY;
        const size_t lines = static_cast<size_t>(h) + SI4C_EMBEDDED_LINES;
        std::vector<uint8_t> raw(2 * blocks * lines * w);
        std::normal_distribution<double> noise(0.0, 6.0);
        std::uniform_int_distribution<int> junk(0, 15), percent(0, 99);
        auto put = [&](size_t at, int value) {
            const int word = (std::clamp(value, 0, 4095)) | (junk(random) << 12);
            raw[2 * at] = static_cast<uint8_t>(word & 0xFF);
            raw[2 * at + 1] = static_cast<uint8_t>(word >> 8);
        };
        const int ranges[2] = {frequencies == 1 ? SI4C_RANGE_SINGLE_MM : SI4C_RANGE_DUAL_FIRST_MM,
                               SI4C_RANGE_DUAL_SECOND_MM};
        for (int block = 0; block < blocks; ++block) {
            const int f = block / SI4C_BLOCKS_PER_FREQUENCY,
                      kind = block % SI4C_BLOCKS_PER_FREQUENCY;
            const size_t base = block * lines * w;
            for (int x = 0; x < w; ++x) put(base + x, 0);
            put(base + SI4C_EMBEDDED_BLOCK_KIND, kind);
            put(base + SI4C_EMBEDDED_FREQUENCY_INDEX, f);
            put(base + SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM, ranges[f]);
            for (size_t p = 0; p < static_cast<size_t>(w) * h; ++p) {
                if (percent(random) == 0) phases[f][p] += 2.0;  // something moved
                const double level =
                    kind == SI4C_BLOCK_GREY
                        ? 1500.0
                        : 1500.0 + amplitudes[f][p] * std::cos(phases[f][p] + kind * M_PI / 2);
                const bool saturate = kind != SI4C_BLOCK_GREY && percent(random) == 0;
                put(base + w + p,
                    saturate ? 4095 : static_cast<int>(std::lround(level + noise(random))));
            }
        }
        return raw;
    }

private:
    int w, h, frequencies;
    std::mt19937 random;
    std::vector<double> phases[2], amplitudes[2];
};

struct Case {
    int width, height;
    bool dual;
    int depthLevel, grayLevel;  // spatial levels: radius (level + 1) / 2, 0 off
    bool temporal;
    bool calibrated;
};

void expectSameBits(const Plane& actual, const Plane& expected, const char* plane, const Case& c,
                    int frame) {
    ASSERT_EQ(actual.size(), expected.size());
    size_t differing = 0, first = 0;
    for (size_t p = 0; p < actual.size(); ++p) {
        if (std::memcmp(&actual[p], &expected[p], sizeof(float)) != 0 && differing++ == 0)
            first = p;
    }
    EXPECT_EQ(differing, 0u) << plane << " " << c.width << "x" << c.height
                             << (c.dual ? " dual" : " single") << " depth level " << c.depthLevel
                             << " grey level " << c.grayLevel << (c.temporal ? " temporal" : "")
                             << (c.calibrated ? " calibrated" : "") << " frame " << frame
                             << ": first at pixel " << first << ", " << actual[first]
                             << " instead of " << expected[first];
}

void runCase(const Case& c, unsigned seed) {
    std::vector<float> calibration;
    si4c::StreamSetup setup;
    setup.width = c.width;
    setup.height = c.height;
    setup.singleFrequency = !c.dual;
    setup.params.spatialDepthLevel = c.depthLevel;
    setup.params.spatialGrayLevel = c.grayLevel;
    setup.params.temporalDepthMethod = c.temporal ? 1 : 0;
    setup.params.temporalGrayMethod = c.temporal ? 1 : 0;
    if (c.calibrated) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> offset(-500.0f, 500.0f);
        calibration.resize(static_cast<size_t>(SI4C_CALIBRATION_TABLES) * c.width * c.height);
        for (float& value : calibration) value = offset(random);
        setup.calibration = calibration.data();
    }
    si4c::DepthPipeline pipeline;
    pipeline.configure(setup);
    StepByStep reference(setup);
    RandomFrames frames(c.width, c.height, c.dual, seed);
    const size_t pixels = static_cast<size_t>(c.width) * c.height;
    for (int n = 0; n < 3; ++n) {
        const std::vector<uint8_t> raw = frames.next();
        ASSERT_EQ(raw.size(), 2 * pipeline.rawSamples());
        Planes actual{Plane(pixels, -1.0f), Plane(pixels, -1.0f), Plane(pixels, -1.0f)};
        ASSERT_TRUE(pipeline.process(raw.data(), actual.depth.data(), actual.amplitude.data(),
                                     actual.confidence.data()));
        const Planes expected = reference.process(raw);
        expectSameBits(actual.depth, expected.depth, "depth", c, n);
        expectSameBits(actual.amplitude, expected.amplitude, "amplitude", c, n);
        expectSameBits(actual.confidence, expected.confidence, "confidence", c, n);
    }
}

}  // namespace

TEST(PhasePass, EveryFilterSettingGivesTheBitsOfTheStepByStepAlgorithm) {
    unsigned seed = 1;
    for (bool dual : {false, true})
        for (int depthLevel : {0, 1, 3, 5, 7})
            for (int grayLevel : {0, 1, 7})
                for (bool temporal : {false, true})
                    for (bool calibrated : {false, true})
                        runCase({37, 23, dual, depthLevel, grayLevel, temporal, calibrated},
                                seed++);
}

TEST(PhasePass, ImagesSmallerThanTheFilterWindowsGiveTheSameBits) {
    unsigned seed = 100;
    for (int width : {4, 9})
        for (int height : {1, 2, 3, 8})
            for (bool dual : {false, true})
                runCase({width, height, dual, 7, 5, true, false}, seed++);
}

TEST(PhasePass, FullSensorFramesWithTheDefaultSettingsGiveTheSameBits) {
    runCase({640, 480, false, 3, 1, true, false}, 200);
    runCase({640, 480, true, 3, 1, true, true}, 201);
}
