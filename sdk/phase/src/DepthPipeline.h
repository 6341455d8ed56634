// Per-stream buffers and the per-frame computation: decode, denoise, phase, unwrap, validity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sdk/phase/src/AlgorithmConfig.h"

namespace si4c {

// What SiSDKStart fixes for a stream.
struct StreamSetup {
    int width = 0;
    int height = 0;
    bool singleFrequency = true;
    AlgorithmParams params;
    // SI4C_CALIBRATION_TABLES x width x height offsets in millimetres, or null for none.
    const float* calibration = nullptr;
};

// Confidence model: snr = A / sqrt(grey + kReadNoiseSquared), confidence = snr / (snr + k),
// where A is the modulation amplitude and grey the grey sample (both in sample units).
constexpr float kReadNoiseSquared = 16.0f;
constexpr float kConfidenceHalfSnr = 2.0f;
// Temporal filters restart from the new value where it differs from the filtered one by
// more than this fraction of its own magnitude (something moved).
constexpr float kTemporalResetRatio = 0.3f;

// Window radius of a spatial denoise level: 0 off, 1-2 -> 1, 3-4 -> 2, 5-6 -> 3, 7-9 -> 4.
int spatialRadiusForLevel(int level);
// Weight of the newest frame at a temporal denoise level: 1 / (1 + level).
float temporalWeightForLevel(int level);

class DepthPipeline {
public:
    // Sizes every buffer for the stream and resets the temporal filters. Frames processed
    // afterwards allocate nothing.
    void configure(const StreamSetup& setup);

    int width() const { return imageWidth; }
    int height() const { return imageHeight; }
    int blocks() const;
    // Samples (2 bytes each) of one raw frame of this stream.
    size_t rawSamples() const;

    // Fills width x height floats of each plane from one raw frame of rawSamples() samples.
    // False, planes untouched, when the embedded lines do not match the stream.
    bool process(const uint8_t* raw, float* depth, float* amplitude, float* confidence);

private:
    bool embeddedLinesMatch(const uint8_t* raw) const;
    void decode(const uint8_t* raw);
    void decodeFrequency(const uint8_t* raw, int frequency);
    void denoiseCorrelation();
    void denoiseAmplitude();
    void finish(float* depth, float* amplitude, float* confidence) const;

    int imageWidth = 0;
    int imageHeight = 0;
    int frequencies = 0;
    float rangeMm[2] = {0.0f, 0.0f};
    AlgorithmParams params;
    int depthRadius = 0;
    int grayRadius = 0;
    float depthWeight = 1.0f;  // 1: temporal depth filter off
    float grayWeight = 1.0f;   // 1: temporal amplitude filter off

    // Per frequency: 2 A cos(phi) and 2 A sin(phi) of the current frame, their temporally
    // filtered values, and the calibration offsets.
    std::vector<float> inPhase[2];
    std::vector<float> quadrature[2];
    std::vector<float> filteredInPhase[2];
    std::vector<float> filteredQuadrature[2];
    std::vector<float> offsets[2];
    bool correlationPrimed = false;
    // Planes the final pass reads: the current or the temporally filtered correlation.
    const float* finalInPhase[2] = {nullptr, nullptr};
    const float* finalQuadrature[2] = {nullptr, nullptr};

    std::vector<float> amplitudeNow;
    std::vector<float> amplitudeFiltered;
    bool amplitudePrimed = false;
    const float* finalAmplitude = nullptr;

    std::vector<float> grey;
    std::vector<float> clipped;  // 1 where a correlation sample clipped, else 0
    std::vector<float> scratch;  // the box filter's ring of rows
};

}  // namespace si4c
