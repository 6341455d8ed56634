// The per-frame depth computation of the phase library.
#include "sdk/phase/src/DepthPipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sdk/phase/si4c_calibration_format.h"
#include "sdk/phase/si4c_raw_layout.h"
#include "sdk/phase/src/BoxFilter.h"
#include "sdk/phase/src/FastPhase.h"
#include "sdk/phase/src/VectorClones.h"

namespace si4c {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "raw samples are read as native 16-bit words");

namespace {

constexpr uint16_t kSampleMask = 0x0FFF;

// Dual-frequency unwrapping. With d1 in [0, r1) and d2 in [0, r2) the distances measured at
// the two frequencies, the true distance D satisfies D = d1 + r1 n1 = d2 + r2 n2. As
// r1 : r2 = 2 : 3, (d1 - d2) / (r1 / 2) = 3 n2 - 2 n1 is an integer m in -3..2 that names
// the pair (n1, n2) uniquely within the combined range r1 x 3 = r2 x 2.
constexpr float kFirstRangeMm = SI4C_RANGE_DUAL_FIRST_MM;
constexpr float kSecondRangeMm = SI4C_RANGE_DUAL_SECOND_MM;
constexpr float kCombinedRangeMm = SI4C_RANGE_DUAL_COMBINED_MM;
constexpr float kUnwrapStepMm = kFirstRangeMm / 2.0f;
static_assert(kFirstRangeMm * 3.0f == kCombinedRangeMm && kSecondRangeMm * 2.0f == kCombinedRangeMm,
              "the unwrapping below assumes ranges in the ratio 2 : 3");
// Distance noise grows with the range: weight each estimate by 1 / range^2.
constexpr float kFirstWeight = kSecondRangeMm * kSecondRangeMm /
                               (kFirstRangeMm * kFirstRangeMm + kSecondRangeMm * kSecondRangeMm);
constexpr float kSecondWeight = 1.0f - kFirstWeight;

inline uint16_t sampleAt(const uint8_t* row, size_t x) {
    uint16_t value;
    std::memcpy(&value, row + 2 * x, sizeof value);
    return static_cast<uint16_t>(value & kSampleMask);
}

// Distance of one frequency, calibrated and wrapped into [0, range).
inline float wrappedDistance(float inPhase, float quadrature, float scale, float offset,
                             float range) {
    float d = phaseAngle(quadrature, inPhase) * scale - offset;
    d = d < 0.0f ? d + range : d;
    d = d >= range ? d - range : d;
    return d;
}

SI4C_VECTOR_CLONES
void blendCorrelation(const float* __restrict inPhase, const float* __restrict quadrature,
                      float* __restrict filteredInPhase, float* __restrict filteredQuadrature,
                      size_t count, float weight) {
    const float resetRatioSquared = kTemporalResetRatio * kTemporalResetRatio;
    for (size_t i = 0; i < count; ++i) {
        const float x = inPhase[i];
        const float y = quadrature[i];
        const float dx = x - filteredInPhase[i];
        const float dy = y - filteredQuadrature[i];
        const bool reset = dx * dx + dy * dy > resetRatioSquared * (x * x + y * y);
        filteredInPhase[i] = reset ? x : filteredInPhase[i] + weight * dx;
        filteredQuadrature[i] = reset ? y : filteredQuadrature[i] + weight * dy;
    }
}

SI4C_VECTOR_CLONES
void blendAmplitude(const float* __restrict now, float* __restrict filtered, size_t count,
                    float weight) {
    for (size_t i = 0; i < count; ++i) {
        const float difference = now[i] - filtered[i];
        const bool reset = std::fabs(difference) > kTemporalResetRatio * now[i];
        filtered[i] = reset ? now[i] : filtered[i] + weight * difference;
    }
}

// The five blocks of one frequency (rows after the embedded line) and the planes decoding
// writes.
struct DecodeRows {
    const uint8_t* block[SI4C_BLOCKS_PER_FREQUENCY];
    float* inPhase;
    float* quadrature;
    float* amplitude;
    float* grey;
    float* clipped;
};

// The first frequency sets the per-pixel sums (amplitude, grey, clipping), the second adds
// to them: no branch per pixel.
template <bool First>
inline void decodePlanes(const DecodeRows& rows, size_t pixels, float share) {
    const uint8_t* const row0 = rows.block[SI4C_BLOCK_PHASE_0];
    const uint8_t* const row1 = rows.block[SI4C_BLOCK_PHASE_90];
    const uint8_t* const row2 = rows.block[SI4C_BLOCK_PHASE_180];
    const uint8_t* const row3 = rows.block[SI4C_BLOCK_PHASE_270];
    const uint8_t* const rowGrey = rows.block[SI4C_BLOCK_GREY];
    float* const outInPhase = rows.inPhase;
    float* const outQuadrature = rows.quadrature;
    float* const outAmplitude = rows.amplitude;
    float* const outGrey = rows.grey;
    float* const outClipped = rows.clipped;
    // Planes and raw frame never overlap.
#pragma GCC ivdep
    for (size_t x = 0; x < pixels; ++x) {
        const int c0 = sampleAt(row0, x);
        const int c1 = sampleAt(row1, x);
        const int c2 = sampleAt(row2, x);
        const int c3 = sampleAt(row3, x);
        const bool clip = (c0 == SI4C_SAMPLE_MAX) | (c1 == SI4C_SAMPLE_MAX) |
                          (c2 == SI4C_SAMPLE_MAX) | (c3 == SI4C_SAMPLE_MAX);
        // C_k = offset + A cos(phi + k pi/2): C0 - C2 = 2A cos(phi), C3 - C1 = 2A sin(phi).
        const float i = clip ? 0.0f : static_cast<float>(c0 - c2);
        const float q = clip ? 0.0f : static_cast<float>(c3 - c1);
        const float a = 0.5f * std::sqrt(i * i + q * q) * share;
        const float g = static_cast<float>(sampleAt(rowGrey, x)) * share;
        const float mark = clip ? 1.0f : 0.0f;
        outInPhase[x] = i;
        outQuadrature[x] = q;
        if (First) {
            outAmplitude[x] = a;
            outGrey[x] = g;
            outClipped[x] = mark;
        } else {
            outAmplitude[x] += a;
            outGrey[x] += g;
            outClipped[x] = std::max(outClipped[x], mark);
        }
    }
}

SI4C_VECTOR_CLONES
void decodeFirstFrequency(const DecodeRows& rows, size_t pixels, float share) {
    decodePlanes<true>(rows, pixels, share);
}

SI4C_VECTOR_CLONES
void decodeSecondFrequency(const DecodeRows& rows, size_t pixels, float share) {
    decodePlanes<false>(rows, pixels, share);
}

// What the last pass reads and the stream's constants.
struct FinishInputs {
    const float* inPhase[2];
    const float* quadrature[2];
    const float* offset[2];
    const float* grey;
    const float* clipped;
    const float* amplitude;
    float range[2];
    float minimum;
    float maximum;
    float threshold;
};

template <bool Dual>
inline void finishPixels(const FinishInputs& in, size_t pixels, float* __restrict depthOut,
                         float* __restrict amplitudeOut, float* __restrict confidenceOut) {
    const float minimum = in.minimum;
    const float maximum = in.maximum;
    const float threshold = in.threshold;
    const float range0 = in.range[0];
    const float range1 = in.range[1];
    const float scale0 = range0 / kTwoPi;
    const float scale1 = range1 / kTwoPi;
    const float* const i0 = in.inPhase[0];
    const float* const q0 = in.quadrature[0];
    const float* const i1 = in.inPhase[1];
    const float* const q1 = in.quadrature[1];
    const float* const offset0 = in.offset[0];
    const float* const offset1 = in.offset[1];
    const float* const greyLevel = in.grey;
    const float* const clip = in.clipped;
    const float* const amplitudeSource = in.amplitude;
#pragma GCC ivdep
    for (size_t p = 0; p < pixels; ++p) {
        float distance;
        float modulation;  // modulation amplitude A of the denoised correlation
        if (Dual) {
            const float d1 = wrappedDistance(i0[p], q0[p], scale0, offset0[p], range0);
            const float d2 = wrappedDistance(i1[p], q1[p], scale1, offset1[p], range1);
            // Nearest integer to (d1 - d2) / step, which lies in (-3, 2); shifted positive
            // so that truncation rounds, and clamped against rounding at the ends.
            const float shifted = std::min(std::max((d1 - d2) / kUnwrapStepMm + 3.5f, 0.0f), 5.0f);
            const int k = static_cast<int>(shifted);  // m + 3, 0..5
            const float m = static_cast<float>(k) - 3.0f;
            // n2 = -1 for m = -3, 1 for m = -1 and 1, else 0: in integer arithmetic, since
            // selects on m here stop the compiler from vectorising the loop.
            const float n2 = static_cast<float>((1 - (k & 1)) * (2 * std::min(k, 1) - 1));
            const float n1 = (3.0f * n2 - m) * 0.5f;
            distance = kFirstWeight * (d1 + n1 * kFirstRangeMm) +
                       kSecondWeight * (d2 + n2 * kSecondRangeMm);
            distance = distance < 0.0f ? distance + kCombinedRangeMm : distance;
            distance = distance >= kCombinedRangeMm ? distance - kCombinedRangeMm : distance;
            modulation = 0.25f * (std::sqrt(i0[p] * i0[p] + q0[p] * q0[p]) +
                                  std::sqrt(i1[p] * i1[p] + q1[p] * q1[p]));
        } else {
            distance = wrappedDistance(i0[p], q0[p], scale0, offset0[p], range0);
            modulation = 0.5f * std::sqrt(i0[p] * i0[p] + q0[p] * q0[p]);
        }
        const float snr = modulation / std::sqrt(greyLevel[p] + kReadNoiseSquared);
        const bool isClipped = clip[p] != 0.0f;
        const float pixelConfidence = isClipped ? 0.0f : snr / (snr + kConfidenceHalfSnr);
        // Bitwise: every test is evaluated, which keeps the loop free of branches.
        const bool valid = !isClipped & (pixelConfidence >= threshold) & (distance >= minimum) &
                           (distance <= maximum);
        depthOut[p] = valid ? distance : 0.0f;
        confidenceOut[p] = pixelConfidence;
        amplitudeOut[p] = amplitudeSource[p];
    }
}

SI4C_VECTOR_CLONES
void finishSingleFrequency(const FinishInputs& in, size_t pixels, float* depth, float* amplitude,
                           float* confidence) {
    finishPixels<false>(in, pixels, depth, amplitude, confidence);
}

SI4C_VECTOR_CLONES
void finishDualFrequency(const FinishInputs& in, size_t pixels, float* depth, float* amplitude,
                         float* confidence) {
    finishPixels<true>(in, pixels, depth, amplitude, confidence);
}

}  // namespace

int spatialRadiusForLevel(int level) {
    if (level <= 0) return 0;
    return std::min((level + 1) / 2, 4);
}

float temporalWeightForLevel(int level) {
    if (level <= 0) return 1.0f;
    return 1.0f / static_cast<float>(1 + level);
}

int DepthPipeline::blocks() const { return frequencies * SI4C_BLOCKS_PER_FREQUENCY; }

size_t DepthPipeline::rawSamples() const {
    return static_cast<size_t>(imageWidth) *
           SI4C_RAW_LINES(static_cast<size_t>(imageHeight), static_cast<size_t>(blocks()));
}

void DepthPipeline::configure(const StreamSetup& setup) {
    imageWidth = setup.width;
    imageHeight = setup.height;
    params = setup.params;
    frequencies = setup.singleFrequency ? 1 : 2;
    int tables[2];
    if (setup.singleFrequency) {
        rangeMm[0] = SI4C_RANGE_SINGLE_MM;
        rangeMm[1] = 0.0f;
        tables[0] = SI4C_CALIBRATION_TABLE_SINGLE;
        tables[1] = -1;
    } else {
        rangeMm[0] = kFirstRangeMm;
        rangeMm[1] = kSecondRangeMm;
        tables[0] = SI4C_CALIBRATION_TABLE_DUAL_FIRST;
        tables[1] = SI4C_CALIBRATION_TABLE_DUAL_SECOND;
    }
    depthRadius =
        params.spatialDepthMethod == 1 ? spatialRadiusForLevel(params.spatialDepthLevel) : 0;
    grayRadius = params.spatialGrayMethod == 1 ? spatialRadiusForLevel(params.spatialGrayLevel) : 0;
    depthWeight =
        params.temporalDepthMethod == 1 ? temporalWeightForLevel(params.temporalDepthLevel) : 1.0f;
    grayWeight =
        params.temporalGrayMethod == 1 ? temporalWeightForLevel(params.temporalGrayLevel) : 1.0f;

    const size_t pixels = static_cast<size_t>(imageWidth) * static_cast<size_t>(imageHeight);
    for (int f = 0; f < 2; ++f) {
        const size_t size = f < frequencies ? pixels : 0;
        inPhase[f].assign(size, 0.0f);
        quadrature[f].assign(size, 0.0f);
        filteredInPhase[f].assign(depthWeight < 1.0f ? size : 0, 0.0f);
        filteredQuadrature[f].assign(depthWeight < 1.0f ? size : 0, 0.0f);
        offsets[f].assign(size, 0.0f);
        if (size != 0 && setup.calibration != nullptr) {
            const float* table = setup.calibration + static_cast<size_t>(tables[f]) * pixels;
            std::copy(table, table + pixels, offsets[f].begin());
        }
        const bool temporal = depthWeight < 1.0f;
        finalInPhase[f] = temporal ? filteredInPhase[f].data() : inPhase[f].data();
        finalQuadrature[f] = temporal ? filteredQuadrature[f].data() : quadrature[f].data();
    }
    amplitudeNow.assign(pixels, 0.0f);
    amplitudeFiltered.assign(grayWeight < 1.0f ? pixels : 0, 0.0f);
    finalAmplitude = grayWeight < 1.0f ? amplitudeFiltered.data() : amplitudeNow.data();
    grey.assign(pixels, 0.0f);
    clipped.assign(pixels, 0.0f);
    // The box filter's ring of filtered rows.
    const int radius = std::max(depthRadius, grayRadius);
    scratch.assign(radius > 0 ? static_cast<size_t>(imageWidth) *
                                    static_cast<size_t>(std::min(2 * radius + 1, imageHeight))
                              : 0,
                   0.0f);
    correlationPrimed = false;
    amplitudePrimed = false;
}

bool DepthPipeline::embeddedLinesMatch(const uint8_t* raw) const {
    const size_t blockSamples =
        static_cast<size_t>(imageWidth) * static_cast<size_t>(imageHeight + SI4C_EMBEDDED_LINES);
    if (imageWidth <= SI4C_EMBEDDED_FRAME_COUNTER) return false;
    for (int block = 0; block < blocks(); ++block) {
        const uint8_t* line = raw + 2 * blockSamples * static_cast<size_t>(block);
        const int frequency = block / SI4C_BLOCKS_PER_FREQUENCY;
        if (sampleAt(line, SI4C_EMBEDDED_BLOCK_KIND) != block % SI4C_BLOCKS_PER_FREQUENCY ||
            sampleAt(line, SI4C_EMBEDDED_FREQUENCY_INDEX) != frequency ||
            sampleAt(line, SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM) !=
                static_cast<uint16_t>(rangeMm[frequency])) {
            return false;
        }
    }
    return true;
}

void DepthPipeline::decode(const uint8_t* raw) {
    decodeFrequency(raw, 0);
    if (frequencies == 2) decodeFrequency(raw, 1);
}

// Each block's image is contiguous (width x height samples after its embedded line), as are
// the planes: one loop over all pixels.
void DepthPipeline::decodeFrequency(const uint8_t* raw, int f) {
    const size_t width = static_cast<size_t>(imageWidth);
    const size_t pixels = width * static_cast<size_t>(imageHeight);
    const size_t blockSamples = width * static_cast<size_t>(imageHeight + SI4C_EMBEDDED_LINES);
    DecodeRows rows;
    for (int k = 0; k < SI4C_BLOCKS_PER_FREQUENCY; ++k) {
        const size_t block = static_cast<size_t>(f * SI4C_BLOCKS_PER_FREQUENCY + k);
        rows.block[k] = raw + 2 * (block * blockSamples + SI4C_EMBEDDED_LINES * width);
    }
    rows.inPhase = inPhase[f].data();
    rows.quadrature = quadrature[f].data();
    rows.amplitude = amplitudeNow.data();
    rows.grey = grey.data();
    rows.clipped = clipped.data();
    const float share = 1.0f / static_cast<float>(frequencies);
    if (f == 0) {
        decodeFirstFrequency(rows, pixels, share);
    } else {
        decodeSecondFrequency(rows, pixels, share);
    }
}

void DepthPipeline::denoiseCorrelation() {
    const size_t pixels = amplitudeNow.size();
    for (int f = 0; f < frequencies; ++f) {
        boxFilterInPlace(inPhase[f].data(), scratch.data(), imageWidth, imageHeight, depthRadius);
        boxFilterInPlace(quadrature[f].data(), scratch.data(), imageWidth, imageHeight,
                         depthRadius);
        if (depthWeight >= 1.0f) continue;
        if (!correlationPrimed) {
            std::copy(inPhase[f].begin(), inPhase[f].end(), filteredInPhase[f].begin());
            std::copy(quadrature[f].begin(), quadrature[f].end(), filteredQuadrature[f].begin());
        } else {
            blendCorrelation(inPhase[f].data(), quadrature[f].data(), filteredInPhase[f].data(),
                             filteredQuadrature[f].data(), pixels, depthWeight);
        }
    }
    correlationPrimed = true;
}

void DepthPipeline::denoiseAmplitude() {
    boxFilterInPlace(amplitudeNow.data(), scratch.data(), imageWidth, imageHeight, grayRadius);
    if (grayWeight >= 1.0f) return;
    if (!amplitudePrimed) {
        std::copy(amplitudeNow.begin(), amplitudeNow.end(), amplitudeFiltered.begin());
        amplitudePrimed = true;
        return;
    }
    blendAmplitude(amplitudeNow.data(), amplitudeFiltered.data(), amplitudeNow.size(), grayWeight);
}

void DepthPipeline::finish(float* depth, float* amplitude, float* confidence) const {
    FinishInputs in;
    for (int f = 0; f < 2; ++f) {
        in.inPhase[f] = finalInPhase[f];
        in.quadrature[f] = finalQuadrature[f];
        in.offset[f] = offsets[f].data();
        in.range[f] = rangeMm[f];
    }
    in.grey = grey.data();
    in.clipped = clipped.data();
    in.amplitude = finalAmplitude;
    in.minimum = params.validDistMinMm;
    in.maximum = params.validDistMaxMm;
    in.threshold = params.confidenceThreshold;
    const size_t pixels = amplitudeNow.size();
    if (frequencies == 2) {
        finishDualFrequency(in, pixels, depth, amplitude, confidence);
    } else {
        finishSingleFrequency(in, pixels, depth, amplitude, confidence);
    }
}

bool DepthPipeline::process(const uint8_t* raw, float* depth, float* amplitude, float* confidence) {
    if (frequencies == 0 || !embeddedLinesMatch(raw)) return false;
    decode(raw);
    denoiseCorrelation();
    denoiseAmplitude();
    finish(depth, amplitude, confidence);
    return true;
}

}  // namespace si4c
