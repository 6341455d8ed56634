// One frame's pass down the image: what it reads and writes, and the entry that runs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sdk/phase/si4c_raw_layout.h"
#include "sdk/phase/src/BoxFilterRows.h"

namespace si4c {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "raw samples are read as native 16-bit words");

constexpr uint16_t kSampleMask = 0x0FFF;

inline uint16_t sampleAt(const uint8_t* row, size_t x) {
    uint16_t value;
    std::memcpy(&value, row + 2 * x, sizeof value);
    return static_cast<uint16_t>(value & kSampleMask);
}

// Dual-frequency unwrapping. With d1 in [0, r1) and d2 in [0, r2) the distances measured at
// the two frequencies, the true distance D satisfies D = d1 + r1 n1 = d2 + r2 n2. As
// r1 : r2 = 2 : 3, (d1 - d2) / (r1 / 2) = 3 n2 - 2 n1 is an integer m in -3..2 that names
// the pair (n1, n2) uniquely within the combined range r1 x 3 = r2 x 2.
constexpr float kFirstRangeMm = SI4C_RANGE_DUAL_FIRST_MM;
constexpr float kSecondRangeMm = SI4C_RANGE_DUAL_SECOND_MM;
constexpr float kCombinedRangeMm = SI4C_RANGE_DUAL_COMBINED_MM;
constexpr float kUnwrapStepMm = kFirstRangeMm / 2.0f;
static_assert(kFirstRangeMm * 3.0f == kCombinedRangeMm && kSecondRangeMm * 2.0f == kCombinedRangeMm,
              "the unwrapping assumes ranges in the ratio 2 : 3");
// Distance noise grows with the range: weight each estimate by 1 / range^2.
constexpr float kFirstWeight = kSecondRangeMm * kSecondRangeMm /
                               (kFirstRangeMm * kFirstRangeMm + kSecondRangeMm * kSecondRangeMm);
constexpr float kSecondWeight = 1.0f - kFirstWeight;

struct FinishConstants {
    float range[2];
    float minimum;
    float maximum;
    float threshold;
};

// Everything one frame's pass needs: the raw frame, the stream's state and its rows.
struct FrameJob {
    const uint8_t* raw;
    int width;
    int height;
    int frequencies;
    int depthRadius;
    int grayRadius;
    float depthWeight;  // 1: temporal filter off
    float grayWeight;
    bool correlationPrimed;
    bool amplitudePrimed;
    float* filteredInPhase[2];
    float* filteredQuadrature[2];
    float* amplitudeFiltered;
    const float* offsets[2];  // null without calibration
    FinishConstants constants;
    // Rings of rows: horizontally filtered correlation and amplitude, decoded grey and
    // clipping marks.
    rows::Ring inPhaseRing[2];
    rows::Ring quadratureRing[2];
    rows::Ring amplitudeRing;
    rows::Ring greyRing;
    rows::Ring clippedRing;
    // Single rows: decoded correlation (C0 - C2 and C3 - C1, integers) and amplitude before
    // filtering, and the vertically filtered correlation and amplitude of the output row.
    int16_t* decodedInPhase[2];
    int16_t* decodedQuadrature[2];
    float* decodedAmplitude;
    float* inPhaseRow[2];
    float* quadratureRow[2];
    float* amplitudeRow;
    float* ratioRow[2];  // scratch rows of the last step
    float* distanceRow[2];
    float* normRow[2];
    float* angleRow;
    float* depth;
    float* amplitude;
    float* confidence;
};

// Runs the pass as built for the selected instruction-set level (selectedVectorLevel).
void processFrame(const FrameJob& job);

}  // namespace si4c
