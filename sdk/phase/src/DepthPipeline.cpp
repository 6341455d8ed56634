// The per-frame depth computation of the phase library, one pass down the image.
#include "sdk/phase/src/DepthPipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sdk/phase/si4c_calibration_format.h"
#include "sdk/phase/si4c_raw_layout.h"
#include "sdk/phase/src/BoxFilterRows.h"
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

// Asks for the cache lines of `bytes` bytes at `at` ahead of use. The pass reads some twenty
// rows of different planes at once, more streams than the hardware prefetcher follows.
inline void prefetchRow(const void* at, size_t bytes, bool forWriting) {
    const char* base = static_cast<const char*>(at);
    for (size_t offset = 0; offset < bytes; offset += 64) {
        if (forWriting) {
            __builtin_prefetch(base + offset, 1);
        } else {
            __builtin_prefetch(base + offset, 0);
        }
    }
}

// Rows ahead of use that prefetchRow asks for.
constexpr int kPrefetchRows = 2;

// Distance of one frequency, calibrated and wrapped into [0, range).
inline float wrappedDistance(float inPhase, float quadrature, float scale, float offset,
                             float range) {
    float d = phaseAngle(quadrature, inPhase) * scale - offset;
    d = d < 0.0f ? d + range : d;
    d = d >= range ? d - range : d;
    return d;
}

// Temporal filter of one row of the correlation: restart where the new value moved.
inline void blendCorrelationRow(const float* __restrict inPhase, const float* __restrict quadrature,
                                float* __restrict filteredInPhase,
                                float* __restrict filteredQuadrature, size_t count, float weight) {
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

// The vertical means of one output row of the correlation (rows y - N/2 .. y + N/2 of the
// rings, as rows::columnMean sums them) blended into the temporal state in the same loop.
template <int N>
inline void blendColumnMeans(const rows::Ring& inPhaseRing, const rows::Ring& quadratureRing, int y,
                             float* __restrict filteredInPhase,
                             float* __restrict filteredQuadrature, float weight) {
    const size_t width = inPhaseRing.width;
    const float scale = 1.0f / static_cast<float>(N);
    const float resetRatioSquared = kTemporalResetRatio * kTemporalResetRatio;
    const float* inPhaseRows[N];
    const float* quadratureRows[N];
    for (int k = 0; k < N; ++k) {
        inPhaseRows[k] = inPhaseRing.row(y - N / 2 + k);
        quadratureRows[k] = quadratureRing.row(y - N / 2 + k);
    }
    SI4C_IVDEP
    for (size_t i = 0; i < width; ++i) {
        float x = inPhaseRows[0][i];
        float y = quadratureRows[0][i];
        for (int k = 1; k < N; ++k) {
            x += inPhaseRows[k][i];
            y += quadratureRows[k][i];
        }
        x *= scale;
        y *= scale;
        const float dx = x - filteredInPhase[i];
        const float dy = y - filteredQuadrature[i];
        const bool reset = dx * dx + dy * dy > resetRatioSquared * (x * x + y * y);
        filteredInPhase[i] = reset ? x : filteredInPhase[i] + weight * dx;
        filteredQuadrature[i] = reset ? y : filteredQuadrature[i] + weight * dy;
    }
}

inline void blendAmplitudeRow(const float* __restrict now, float* __restrict filtered, size_t count,
                              float weight) {
    for (size_t i = 0; i < count; ++i) {
        const float difference = now[i] - filtered[i];
        const bool reset = std::fabs(difference) > kTemporalResetRatio * now[i];
        filtered[i] = reset ? now[i] : filtered[i] + weight * difference;
    }
}

// One row of the blocks of every frequency and the rows decoding writes.
struct DecodeRow {
    const uint8_t* block[2][SI4C_BLOCKS_PER_FREQUENCY];
    float* inPhase[2];
    float* quadrature[2];
    float* amplitude;
    float* grey;
    float* clipped;
};

// Both frequencies in one loop: the per-pixel sums (amplitude, grey, clipping) start with the
// first frequency's value and add the second's, in that order.
template <int Frequencies>
inline void decodeRow(const DecodeRow& row, size_t width, float share) {
    const uint8_t* blocks[2][SI4C_BLOCKS_PER_FREQUENCY];
    float* outInPhase[2];
    float* outQuadrature[2];
    for (int f = 0; f < Frequencies; ++f) {
        for (int k = 0; k < SI4C_BLOCKS_PER_FREQUENCY; ++k) blocks[f][k] = row.block[f][k];
        outInPhase[f] = row.inPhase[f];
        outQuadrature[f] = row.quadrature[f];
    }
    float* const outAmplitude = row.amplitude;
    float* const outGrey = row.grey;
    float* const outClipped = row.clipped;
    // Rows and raw frame never overlap.
    SI4C_IVDEP
    for (size_t x = 0; x < width; ++x) {
        float amplitude = 0.0f;
        float grey = 0.0f;
        float mark = 0.0f;
        for (int f = 0; f < Frequencies; ++f) {
            const int c0 = sampleAt(blocks[f][SI4C_BLOCK_PHASE_0], x);
            const int c1 = sampleAt(blocks[f][SI4C_BLOCK_PHASE_90], x);
            const int c2 = sampleAt(blocks[f][SI4C_BLOCK_PHASE_180], x);
            const int c3 = sampleAt(blocks[f][SI4C_BLOCK_PHASE_270], x);
            const bool clip = (c0 == SI4C_SAMPLE_MAX) | (c1 == SI4C_SAMPLE_MAX) |
                              (c2 == SI4C_SAMPLE_MAX) | (c3 == SI4C_SAMPLE_MAX);
            // C_k = offset + A cos(phi + k pi/2): C0 - C2 = 2A cos(phi), C3 - C1 = 2A sin(phi).
            const float i = clip ? 0.0f : static_cast<float>(c0 - c2);
            const float q = clip ? 0.0f : static_cast<float>(c3 - c1);
            const float a = 0.5f * std::sqrt(i * i + q * q) * share;
            const float g = static_cast<float>(sampleAt(blocks[f][SI4C_BLOCK_GREY], x)) * share;
            const float m = clip ? 1.0f : 0.0f;
            outInPhase[f][x] = i;
            outQuadrature[f][x] = q;
            amplitude = f == 0 ? a : amplitude + a;
            grey = f == 0 ? g : grey + g;
            mark = f == 0 ? m : std::max(mark, m);
        }
        outAmplitude[x] = amplitude;
        outGrey[x] = grey;
        outClipped[x] = mark;
    }
}

// What the last step of one row reads, and the scratch rows it passes between its loops.
struct FinishRow {
    const float* inPhase[2];
    const float* quadrature[2];
    const float* offset[2];
    const float* grey;
    const float* clipped;
    const float* amplitude;
    float* depthOut;
    float* amplitudeOut;
    float* confidenceOut;
    float* distance[2];  // wrapped distance per frequency
    float* norm[2];      // |(i, q)| per frequency
    float* angle;        // scratch of distanceRow
};

struct FinishConstants {
    float range[2];
    float minimum;
    float maximum;
    float threshold;
};

// The division and the square root of a row, the first of the short loops below.
inline void ratioAndNormRow(const float* __restrict inPhase, const float* __restrict quadrature,
                            float* __restrict ratio, float* __restrict norm, size_t width) {
    SI4C_IVDEP
    for (size_t p = 0; p < width; ++p) {
        const float i = inPhase[p];
        const float q = quadrature[p];
        ratio[p] = phaseRatio(q, i);
        norm[p] = std::sqrt(i * i + q * q);
    }
}

// The first loops of the last step, once per frequency: the wrapped distance and the length
// of the correlation vector, in three loops: the division and square root, the polynomial,
// the octant and the wrapping. Each iteration of one loop doing all of it waits on a chain
// some seventy cycles long; the AVX2 build's schedulers fill before enough iterations
// overlap, and the one loop took 1.6 times as long as the three (AVX-512 builds do twice the
// pixels per chain and lose less).
template <bool Calibrated>
inline void distanceRow(const float* __restrict inPhase, const float* __restrict quadrature,
                        const float* __restrict offset, float scale, float range,
                        float* __restrict angle, float* __restrict distance, float* __restrict norm,
                        size_t width) {
    ratioAndNormRow(inPhase, quadrature, angle, norm, width);
    SI4C_IVDEP
    for (size_t p = 0; p < width; ++p) angle[p] = atanOfRatio(angle[p]);
    SI4C_IVDEP
    for (size_t p = 0; p < width; ++p) {
        float d = angleFromOctant(angle[p], quadrature[p], inPhase[p]) * scale -
                  (Calibrated ? offset[p] : 0.0f);
        d = d < 0.0f ? d + range : d;
        d = d >= range ? d - range : d;
        distance[p] = d;
    }
}

// The end of the last step for one pixel: confidence from the modulation and the grey level,
// validity, and the three outputs. Built once per row, so that the loops see its pointers
// and limits as local values.
struct PixelEnd {
    const float* grey;
    const float* clipped;
    const float* amplitude;
    float* depthOut;
    float* amplitudeOut;
    float* confidenceOut;
    float minimum;
    float maximum;
    float threshold;

    PixelEnd(const FinishRow& in, const FinishConstants& constants)
        : grey(in.grey),
          clipped(in.clipped),
          amplitude(in.amplitude),
          depthOut(in.depthOut),
          amplitudeOut(in.amplitudeOut),
          confidenceOut(in.confidenceOut),
          minimum(constants.minimum),
          maximum(constants.maximum),
          threshold(constants.threshold) {}

    void write(size_t p, float distance, float modulation) const {
        const float snr = modulation / std::sqrt(grey[p] + kReadNoiseSquared);
        const bool isClipped = clipped[p] != 0.0f;
        const float pixelConfidence = isClipped ? 0.0f : snr / (snr + kConfidenceHalfSnr);
        // Bitwise: every test is evaluated, which keeps the loop free of branches.
        const bool valid = !isClipped & (pixelConfidence >= threshold) & (distance >= minimum) &
                           (distance <= maximum);
        depthOut[p] = valid ? distance : 0.0f;
        confidenceOut[p] = pixelConfidence;
        amplitudeOut[p] = amplitude[p];
    }
};

// Without calibration every offset is 0, and d - 0 is d: the offsets are not read then.
template <bool Dual, bool Calibrated>
inline void finishRow(const FinishRow& in, const FinishConstants& constants, size_t width) {
    if (Dual) {
        for (int f = 0; f < 2; ++f) {
            distanceRow<Calibrated>(in.inPhase[f], in.quadrature[f], in.offset[f],
                                    constants.range[f] / kTwoPi, constants.range[f], in.angle,
                                    in.distance[f], in.norm[f], width);
        }
        // The unwrapping's m + 3 in a loop of its own, for the reason given at distanceRow
        // (the division and rounding head a chain the rest of the pixel waits on).
        const float* const d1 = in.distance[0];
        const float* const d2 = in.distance[1];
        float* const shiftedIndex = in.angle;
        SI4C_IVDEP
        for (size_t p = 0; p < width; ++p) {
            // Nearest integer to (d1 - d2) / step, which lies in (-3, 2); shifted positive
            // so that truncation rounds, and clamped against rounding at the ends.
            const float shifted =
                std::min(std::max((d1[p] - d2[p]) / kUnwrapStepMm + 3.5f, 0.0f), 5.0f);
            shiftedIndex[p] = static_cast<float>(static_cast<int>(shifted));
        }
    }
    const float range0 = constants.range[0];
    const float scale0 = range0 / kTwoPi;
    const float* const i0 = in.inPhase[0];
    const float* const q0 = in.quadrature[0];
    const float* const offset0 = in.offset[0];
    const float* const distance0 = in.distance[0];
    const float* const distance1 = in.distance[1];
    const float* const shiftedIndex = in.angle;
    const PixelEnd end(in, constants);
    const float* const norm0 = in.norm[0];
    const float* const norm1 = in.norm[1];
    SI4C_IVDEP
    for (size_t p = 0; p < width; ++p) {
        float distance;
        float modulation;  // modulation amplitude A of the denoised correlation
        if (Dual) {
            const float d1 = distance0[p];
            const float d2 = distance1[p];
            const int k = static_cast<int>(shiftedIndex[p]);  // m + 3, 0..5
            const float m = static_cast<float>(k) - 3.0f;
            // n2 = -1 for m = -3, 1 for m = -1 and 1, else 0, by integer bit operations:
            // selects on m here stop the compiler from vectorising the loop. The sign is
            // 2 min(k, 1) - 1; (k & 1) - 1 keeps it for even k and clears it for odd k.
            const float n2 = static_cast<float>((2 * std::min(k, 1) - 1) & ((k & 1) - 1));
            const float n1 = (3.0f * n2 - m) * 0.5f;
            distance = kFirstWeight * (d1 + n1 * kFirstRangeMm) +
                       kSecondWeight * (d2 + n2 * kSecondRangeMm);
            distance = distance < 0.0f ? distance + kCombinedRangeMm : distance;
            distance = distance >= kCombinedRangeMm ? distance - kCombinedRangeMm : distance;
            modulation = 0.25f * (norm0[p] + norm1[p]);
        } else {
            // One frequency in one loop, except in the x86-64-v3 build (see
            // finishSingleRowInShortLoops).
            distance =
                wrappedDistance(i0[p], q0[p], scale0, Calibrated ? offset0[p] : 0.0f, range0);
            modulation = 0.5f * std::sqrt(i0[p] * i0[p] + q0[p] * q0[p]);
        }
        end.write(p, distance, modulation);
    }
}

// The last step of one frequency in three loops (division and square root; polynomial;
// octant, wrapping, confidence and validity), for the reason given at distanceRow. The
// x86-64-v3 build runs it about a fifth faster than finishRow's one loop; the x86-64-v4
// build (32 registers, sixteen lanes per chain) runs the one loop faster and keeps it.
template <bool Calibrated>
inline void finishSingleRowInShortLoops(const FinishRow& in, const FinishConstants& constants,
                                        size_t width) {
    const float range = constants.range[0];
    const float scale = range / kTwoPi;
    const float* const i0 = in.inPhase[0];
    const float* const q0 = in.quadrature[0];
    const float* const offset0 = in.offset[0];
    float* const angle = in.angle;
    float* const norm = in.norm[0];
    const PixelEnd end(in, constants);
    ratioAndNormRow(i0, q0, angle, norm, width);
    SI4C_IVDEP
    for (size_t p = 0; p < width; ++p) angle[p] = atanOfRatio(angle[p]);
    SI4C_IVDEP
    for (size_t p = 0; p < width; ++p) {
        float distance =
            angleFromOctant(angle[p], q0[p], i0[p]) * scale - (Calibrated ? offset0[p] : 0.0f);
        distance = distance < 0.0f ? distance + range : distance;
        distance = distance >= range ? distance - range : distance;
        const float modulation = 0.5f * norm[p];
        end.write(p, distance, modulation);
    }
}

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
    bool shortLoops;  // one frequency's last step in finishSingleRowInShortLoops
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
    // Single rows: decoded correlation and amplitude before filtering, and the vertically
    // filtered correlation and amplitude of the output row.
    float* decodedInPhase[2];
    float* decodedQuadrature[2];
    float* decodedAmplitude;
    float* inPhaseRow[2];
    float* quadratureRow[2];
    float* amplitudeRow;
    float* distanceRow[2];  // scratch rows of the last step
    float* normRow[2];
    float* angleRow;
    float* depth;
    float* amplitude;
    float* confidence;
};

// Raw row y is decoded and filtered horizontally into the rings; output row y - R (R the
// larger radius) follows, since the rings then hold every row its vertical windows need.
// Rings of 2R + 1 rows suffice. Each value goes through the same operations in the same
// order as when every step ran over the whole plane: the bits are the same.
inline __attribute__((always_inline)) void processFrameBody(const FrameJob& job) {
    const size_t width = static_cast<size_t>(job.width);
    const int height = job.height;
    const int lag = std::max(job.depthRadius, job.grayRadius);
    const size_t blockSamples = width * static_cast<size_t>(height + SI4C_EMBEDDED_LINES);
    const float share = 1.0f / static_cast<float>(job.frequencies);
    for (int y = 0; y < height + lag; ++y) {
        if (y + kPrefetchRows < height) {
            const size_t ahead = static_cast<size_t>(y + kPrefetchRows) * width;
            for (int block = 0; block < job.frequencies * SI4C_BLOCKS_PER_FREQUENCY; ++block) {
                prefetchRow(job.raw + 2 * (static_cast<size_t>(block) * blockSamples +
                                           SI4C_EMBEDDED_LINES * width + ahead),
                            2 * width, false);
            }
        }
        const int outAhead = y - lag + kPrefetchRows;
        if (outAhead >= 0 && outAhead < height) {
            const size_t ahead = static_cast<size_t>(outAhead) * width;
            for (int f = 0; f < job.frequencies; ++f) {
                if (job.depthWeight < 1.0f) {
                    prefetchRow(job.filteredInPhase[f] + ahead, 4 * width, true);
                    prefetchRow(job.filteredQuadrature[f] + ahead, 4 * width, true);
                }
                if (job.offsets[f] != nullptr)
                    prefetchRow(job.offsets[f] + ahead, 4 * width, false);
            }
            if (job.grayWeight < 1.0f) prefetchRow(job.amplitudeFiltered + ahead, 4 * width, true);
        }
        if (y < height) {
            const size_t rowStart = static_cast<size_t>(y) * width;
            DecodeRow row;
            for (int f = 0; f < job.frequencies; ++f) {
                for (int k = 0; k < SI4C_BLOCKS_PER_FREQUENCY; ++k) {
                    const size_t block = static_cast<size_t>(f * SI4C_BLOCKS_PER_FREQUENCY + k);
                    row.block[f][k] = job.raw + 2 * (block * blockSamples +
                                                     SI4C_EMBEDDED_LINES * width + rowStart);
                }
                row.inPhase[f] = job.decodedInPhase[f];
                row.quadrature[f] = job.decodedQuadrature[f];
            }
            row.amplitude = job.decodedAmplitude;
            row.grey = job.greyRing.row(y);
            row.clipped = job.clippedRing.row(y);
            if (job.frequencies == 2) {
                decodeRow<2>(row, width, share);
            } else {
                decodeRow<1>(row, width, share);
            }
            for (int f = 0; f < job.frequencies; ++f) {
                rows::filterRow(job.decodedInPhase[f], job.inPhaseRing[f].row(y), job.width,
                                job.depthRadius);
                rows::filterRow(job.decodedQuadrature[f], job.quadratureRing[f].row(y), job.width,
                                job.depthRadius);
            }
            rows::filterRow(job.decodedAmplitude, job.amplitudeRing.row(y), job.width,
                            job.grayRadius);
        }
        const int out = y - lag;
        if (out < 0) continue;
        const size_t outStart = static_cast<size_t>(out) * width;

        FinishRow finish;
        const int depthRows = rows::rowRadius(out, height, job.depthRadius);
        for (int f = 0; f < 2; ++f) {
            finish.inPhase[f] = nullptr;
            finish.quadrature[f] = nullptr;
            finish.offset[f] = nullptr;
        }
        for (int f = 0; f < job.frequencies; ++f) {
            finish.offset[f] = job.offsets[f] != nullptr ? job.offsets[f] + outStart : nullptr;
            if (job.depthWeight < 1.0f && job.correlationPrimed && depthRows >= 1 &&
                depthRows <= 3) {
                // The common case in one loop: the windows of the denoise levels 1 to 6.
                float* filteredI = job.filteredInPhase[f] + outStart;
                float* filteredQ = job.filteredQuadrature[f] + outStart;
                switch (depthRows) {
                    case 1:
                        blendColumnMeans<3>(job.inPhaseRing[f], job.quadratureRing[f], out,
                                            filteredI, filteredQ, job.depthWeight);
                        break;
                    case 2:
                        blendColumnMeans<5>(job.inPhaseRing[f], job.quadratureRing[f], out,
                                            filteredI, filteredQ, job.depthWeight);
                        break;
                    default:
                        blendColumnMeans<7>(job.inPhaseRing[f], job.quadratureRing[f], out,
                                            filteredI, filteredQ, job.depthWeight);
                        break;
                }
                finish.inPhase[f] = filteredI;
                finish.quadrature[f] = filteredQ;
                continue;
            }
            rows::columnMean(job.inPhaseRing[f], out, depthRows, job.inPhaseRow[f]);
            rows::columnMean(job.quadratureRing[f], out, depthRows, job.quadratureRow[f]);
            finish.inPhase[f] = job.inPhaseRow[f];
            finish.quadrature[f] = job.quadratureRow[f];
            if (job.depthWeight < 1.0f) {
                float* filteredI = job.filteredInPhase[f] + outStart;
                float* filteredQ = job.filteredQuadrature[f] + outStart;
                if (!job.correlationPrimed) {
                    std::copy(job.inPhaseRow[f], job.inPhaseRow[f] + width, filteredI);
                    std::copy(job.quadratureRow[f], job.quadratureRow[f] + width, filteredQ);
                } else {
                    blendCorrelationRow(job.inPhaseRow[f], job.quadratureRow[f], filteredI,
                                        filteredQ, width, job.depthWeight);
                }
                finish.inPhase[f] = filteredI;
                finish.quadrature[f] = filteredQ;
            }
        }
        rows::columnMean(job.amplitudeRing, out, rows::rowRadius(out, height, job.grayRadius),
                         job.amplitudeRow);
        finish.amplitude = job.amplitudeRow;
        if (job.grayWeight < 1.0f) {
            float* filtered = job.amplitudeFiltered + outStart;
            if (!job.amplitudePrimed) {
                std::copy(job.amplitudeRow, job.amplitudeRow + width, filtered);
            } else {
                blendAmplitudeRow(job.amplitudeRow, filtered, width, job.grayWeight);
            }
            finish.amplitude = filtered;
        }
        finish.grey = job.greyRing.row(out);
        finish.clipped = job.clippedRing.row(out);
        finish.depthOut = job.depth + outStart;
        finish.amplitudeOut = job.amplitude + outStart;
        finish.confidenceOut = job.confidence + outStart;
        for (int f = 0; f < 2; ++f) {
            finish.distance[f] = job.distanceRow[f];
            finish.norm[f] = job.normRow[f];
        }
        finish.angle = job.angleRow;
        const bool calibrated = job.offsets[0] != nullptr;
        if (job.frequencies == 2) {
            if (calibrated) {
                finishRow<true, true>(finish, job.constants, width);
            } else {
                finishRow<true, false>(finish, job.constants, width);
            }
        } else if (job.shortLoops) {
            if (calibrated) {
                finishSingleRowInShortLoops<true>(finish, job.constants, width);
            } else {
                finishSingleRowInShortLoops<false>(finish, job.constants, width);
            }
        } else if (calibrated) {
            finishRow<false, true>(finish, job.constants, width);
        } else {
            finishRow<false, false>(finish, job.constants, width);
        }
    }
}

SI4C_LEVEL_BUILDS(processFrame, (const FrameJob& job), (job))

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
    const bool temporal = depthWeight < 1.0f;
    for (int f = 0; f < 2; ++f) {
        const size_t size = f < frequencies ? pixels : 0;
        filteredInPhase[f].assign(temporal ? size : 0, 0.0f);
        filteredQuadrature[f].assign(temporal ? size : 0, 0.0f);
        offsets[f].assign(setup.calibration != nullptr ? size : 0, 0.0f);
        if (size != 0 && setup.calibration != nullptr) {
            const float* table = setup.calibration + static_cast<size_t>(tables[f]) * pixels;
            std::copy(table, table + pixels, offsets[f].begin());
        }
    }
    amplitudeFiltered.assign(grayWeight < 1.0f ? pixels : 0, 0.0f);
    rowMemory.assign(static_cast<size_t>(imageWidth) * (kRings * ringLines() + kSingleRows), 0.0f);
    correlationPrimed = false;
    amplitudePrimed = false;
}

int DepthPipeline::ringLines() const { return 2 * std::max(depthRadius, grayRadius) + 1; }

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

bool DepthPipeline::process(const uint8_t* raw, float* depth, float* amplitude, float* confidence) {
    if (frequencies == 0 || !embeddedLinesMatch(raw)) return false;
    FrameJob job;
    job.raw = raw;
    job.width = imageWidth;
    job.height = imageHeight;
    job.frequencies = frequencies;
    job.depthRadius = depthRadius;
    job.grayRadius = grayRadius;
    job.depthWeight = depthWeight;
    job.grayWeight = grayWeight;
    job.correlationPrimed = correlationPrimed;
    job.amplitudePrimed = amplitudePrimed;
    job.shortLoops = selectedVectorLevel() == VectorLevel::X86V3;
    job.amplitudeFiltered = amplitudeFiltered.data();
    job.constants = {{rangeMm[0], rangeMm[1]},
                     params.validDistMinMm,
                     params.validDistMaxMm,
                     params.confidenceThreshold};
    // rowMemory: kRings rings of ringLines() rows, then kSingleRows single rows.
    const size_t width = static_cast<size_t>(imageWidth);
    const int lines = ringLines();
    float* next = rowMemory.data();
    auto ring = [&]() {
        const rows::Ring made{next, width, lines};
        next += width * static_cast<size_t>(lines);
        return made;
    };
    auto row = [&]() {
        float* made = next;
        next += width;
        return made;
    };
    for (int f = 0; f < 2; ++f) {
        job.filteredInPhase[f] = filteredInPhase[f].data();
        job.filteredQuadrature[f] = filteredQuadrature[f].data();
        job.offsets[f] = offsets[f].empty() ? nullptr : offsets[f].data();
        job.inPhaseRing[f] = ring();
        job.quadratureRing[f] = ring();
    }
    job.amplitudeRing = ring();
    job.greyRing = ring();
    job.clippedRing = ring();
    for (int f = 0; f < 2; ++f) {
        job.decodedInPhase[f] = row();
        job.decodedQuadrature[f] = row();
        job.inPhaseRow[f] = row();
        job.quadratureRow[f] = row();
        job.distanceRow[f] = row();
        job.normRow[f] = row();
    }
    job.decodedAmplitude = row();
    job.angleRow = row();
    job.amplitudeRow = row();
    job.depth = depth;
    job.amplitude = amplitude;
    job.confidence = confidence;
    processFrame(job);
    correlationPrimed = true;
    amplitudePrimed = true;
    return true;
}

}  // namespace si4c
