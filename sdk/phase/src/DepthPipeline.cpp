// A stream's buffers and state, and the checks before each frame's pass (FramePass.cpp).
#include "sdk/phase/src/DepthPipeline.h"

#include <algorithm>

#include "sdk/phase/si4c_calibration_format.h"
#include "sdk/phase/si4c_raw_layout.h"
#include "sdk/phase/src/FramePass.h"

namespace si4c {

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
    sampleRowMemory.assign(static_cast<size_t>(imageWidth) * kSampleRows, 0);
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
        job.decodedInPhase[f] = sampleRowMemory.data() + (2 * f) * width;
        job.decodedQuadrature[f] = sampleRowMemory.data() + (2 * f + 1) * width;
        job.inPhaseRow[f] = row();
        job.quadratureRow[f] = row();
        job.ratioRow[f] = row();
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
