// The stand-in phase library's frame computation over arbitrary raw frames, geometries,
// frequency modes, algorithm parameters and calibration offsets.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "sdk/phase/si4c_calibration_format.h"
#include "sdk/phase/si4c_raw_layout.h"
#include "sdk/phase/src/CalibrationData.h"
#include "sdk/phase/src/DepthPipeline.h"

using namespace si4c;

namespace {

const float kUntouched = -12345.0f;

void putSample(std::vector<uint8_t>& raw, size_t index, uint16_t value) {
    raw[2 * index] = static_cast<uint8_t>(value & 0xFF);
    raw[2 * index + 1] = static_cast<uint8_t>(value >> 8);
}

AlgorithmParams fuzzedParams(FuzzedDataProvider& input) {
    AlgorithmParams params;
    if (input.ConsumeBool()) return params;
    params.temporalDepthLevel = input.ConsumeIntegralInRange(0, 9);
    params.spatialDepthLevel = input.ConsumeIntegralInRange(0, 9);
    params.temporalDepthMethod = input.ConsumeIntegralInRange(0, 1);
    params.spatialDepthMethod = input.ConsumeIntegralInRange(0, 1);
    params.temporalGrayLevel = input.ConsumeIntegralInRange(0, 9);
    params.spatialGrayLevel = input.ConsumeIntegralInRange(0, 9);
    params.temporalGrayMethod = input.ConsumeIntegralInRange(0, 1);
    params.spatialGrayMethod = input.ConsumeIntegralInRange(0, 1);
    params.validDistMinMm = input.ConsumeFloatingPointInRange(0.0f, 5000.0f);
    params.validDistMaxMm = input.ConsumeFloatingPointInRange(params.validDistMinMm, 100000.0f);
    params.confidenceThreshold = input.ConsumeFloatingPointInRange(0.0f, 1.0f);
    return params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    StreamSetup setup;
    setup.width = input.ConsumeIntegralInRange(SI4C_EMBEDDED_FRAME_COUNTER + 1, 48);
    setup.height = input.ConsumeIntegralInRange(1, 24);
    setup.singleFrequency = input.ConsumeBool();
    setup.params = fuzzedParams(input);
    const size_t pixels = static_cast<size_t>(setup.width) * setup.height;
    std::vector<float> calibration;
    if (input.ConsumeBool()) {
        // Offsets as a valid calibration file may hold them: finite, below each range.
        calibration.resize(SI4C_CALIBRATION_TABLES * pixels);
        for (size_t i = 0; i < calibration.size(); ++i) {
            const float range = calibrationTableRangeMm(static_cast<int>(i / pixels));
            calibration[i] = input.ConsumeFloatingPointInRange(-range * 0.999f, range * 0.999f);
        }
        setup.calibration = calibration.data();
    }
    DepthPipeline pipeline;
    pipeline.configure(setup);

    const int blocks =
        setup.singleFrequency ? SI4C_BLOCKS_SINGLE_FREQUENCY : SI4C_BLOCKS_DUAL_FREQUENCY;
    const size_t blockSamples = static_cast<size_t>(setup.width) * (setup.height + 1);
    FUZZ_CHECK(pipeline.rawSamples() == blockSamples * blocks);
    const int frames = input.ConsumeIntegralInRange(1, 3);
    for (int frame = 0; frame < frames; ++frame) {
        // Exactly one frame's bytes, so that a read past it is caught.
        std::vector<uint8_t> raw(2 * pipeline.rawSamples());
        const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(raw.size());
        for (size_t i = 0; i < raw.size(); ++i) {
            raw[i] = bytes.empty() ? static_cast<uint8_t>(i * 97) : bytes[i % bytes.size()];
        }
        // Embedded lines as the sensor writes them, unless the input spoils one.
        const bool spoil = input.ConsumeIntegralInRange(0, 7) == 0;
        const bool writeLines = spoil || input.ConsumeIntegralInRange(0, 15) != 0;
        if (writeLines) {
            for (int block = 0; block < blocks; ++block) {
                const size_t line = blockSamples * block;
                const int frequency = block / SI4C_BLOCKS_PER_FREQUENCY;
                const int range = setup.singleFrequency ? SI4C_RANGE_SINGLE_MM
                                  : frequency == 0      ? SI4C_RANGE_DUAL_FIRST_MM
                                                        : SI4C_RANGE_DUAL_SECOND_MM;
                putSample(raw, line + SI4C_EMBEDDED_BLOCK_KIND, block % SI4C_BLOCKS_PER_FREQUENCY);
                putSample(raw, line + SI4C_EMBEDDED_FREQUENCY_INDEX, frequency);
                putSample(raw, line + SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM, range);
            }
            if (spoil) {
                const size_t block = input.ConsumeIntegralInRange(0, blocks - 1);
                const size_t field = input.ConsumeIntegralInRange(0, 2);
                raw[2 * (blockSamples * block + field)] ^= 0x01;
            }
        }
        std::vector<float> depth(pixels, kUntouched);
        std::vector<float> amplitude(pixels, kUntouched);
        std::vector<float> confidence(pixels, kUntouched);
        const bool computed =
            pipeline.process(raw.data(), depth.data(), amplitude.data(), confidence.data());
        if (writeLines) FUZZ_CHECK(computed == !spoil);
        if (!computed) {
            for (size_t p = 0; p < pixels; ++p) {
                FUZZ_CHECK(depth[p] == kUntouched && amplitude[p] == kUntouched &&
                           confidence[p] == kUntouched);
            }
            continue;
        }
        for (size_t p = 0; p < pixels; ++p) {
            FUZZ_CHECK(std::isfinite(depth[p]) && std::isfinite(amplitude[p]) &&
                       std::isfinite(confidence[p]));
            FUZZ_CHECK(depth[p] == 0.0f || (depth[p] >= setup.params.validDistMinMm &&
                                            depth[p] <= setup.params.validDistMaxMm));
            FUZZ_CHECK(amplitude[p] >= 0.0f);
            FUZZ_CHECK(confidence[p] >= 0.0f && confidence[p] <= 1.0f);
        }
    }
    return 0;
}
