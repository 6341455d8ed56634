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

// The frame is computed in one pass down the image: each raw row is decoded and filtered
// horizontally into small rings of rows, and each output row is finished (vertical filter,
// temporal filters, phase, unwrapping, confidence) as soon as the rows below it that its
// window needs are in. Only the temporal filters' state and the calibration are whole
// planes, so the working set stays in the caches.
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
    int ringLines() const;

    // Rings: filtered in-phase and quadrature of two frequencies, amplitude, grey, clipping
    // marks. Single rows: filtered correlation of two frequencies, decoded and filtered
    // amplitude; for the last step, ratio, distance and correlation length of two frequencies
    // and one scratch row. Sample rows: decoded correlation of two frequencies.
    static constexpr size_t kRings = 7;
    static constexpr size_t kSingleRows = 13;
    static constexpr size_t kSampleRows = 4;

    int imageWidth = 0;
    int imageHeight = 0;
    int frequencies = 0;
    float rangeMm[2] = {0.0f, 0.0f};
    AlgorithmParams params;
    int depthRadius = 0;
    int grayRadius = 0;
    float depthWeight = 1.0f;  // 1: temporal depth filter off
    float grayWeight = 1.0f;   // 1: temporal amplitude filter off

    // Per frequency: the temporally filtered 2 A cos(phi) and 2 A sin(phi), and the
    // calibration offsets (empty without calibration).
    std::vector<float> filteredInPhase[2];
    std::vector<float> filteredQuadrature[2];
    std::vector<float> offsets[2];
    bool correlationPrimed = false;
    std::vector<float> amplitudeFiltered;
    bool amplitudePrimed = false;

    // Rings of rows (2 max(radius) + 1 lines each) and single rows; see DepthPipeline.cpp.
    std::vector<float> rowMemory;
    std::vector<int16_t> sampleRowMemory;
};

}  // namespace si4c
