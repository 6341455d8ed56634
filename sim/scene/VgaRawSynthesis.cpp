// Synthesis of the 640x480 sensor's correlation and grey blocks with embedded lines.
#include "sim/scene/VgaRawSynthesis.h"

#include <algorithm>
#include <cmath>

#include "sdk/phase/si4c_raw_layout.h"

namespace Quarvel {
namespace sim {

namespace {
constexpr double kPi = 3.14159265358979323846;
// Unambiguous ranges in the order the per-pixel tables keep them.
constexpr int kRanges[3] = {SI4C_RANGE_SINGLE_MM, SI4C_RANGE_DUAL_FIRST_MM,
                            SI4C_RANGE_DUAL_SECOND_MM};

int tableOf(VgaFrequencyMode mode, int index) {
    return mode == VgaFrequencyMode::Single ? 0 : 1 + index;
}
}  // namespace

int VgaRawSynthesis::blocks(VgaFrequencyMode mode) {
    return mode == VgaFrequencyMode::Dual ? SI4C_BLOCKS_DUAL_FREQUENCY
                                          : SI4C_BLOCKS_SINGLE_FREQUENCY;
}

int VgaRawSynthesis::unambiguousRangeMm(VgaFrequencyMode mode, int index) {
    return kRanges[tableOf(mode, index == 0 ? 0 : 1)];
}

VgaRawSynthesis::VgaRawSynthesis(const GroundTruth& groundTruth,
                                 const VgaSensorParams& sensorParams)
    : truth(groundTruth), params(sensorParams) {
    const int pixels = truth.pixels();
    amplitude.assign(pixels, 0.0f);
    offset.assign(pixels, 0.0f);
    sigma.assign(pixels, 0.0f);
    for (int table = 0; table < 3; ++table) {
        inPhase[table].assign(pixels, 0.0f);
        quadrature[table].assign(pixels, 0.0f);
    }
    for (int i = 0; i < pixels; ++i) {
        // A mixed pixel adds the phasors of the two surfaces it sees.
        GroundTruth::Return returns[2];
        const int surfaces = truth.returns(i, returns);
        double active = 0;
        for (int r = 0; r < surfaces; ++r) active += params.signalLsb * returns[r].signal;
        const double a = params.modulationContrast * active;
        const double level = params.ambientLsb * truth.ambient[i] + active;
        amplitude[i] = static_cast<float>(a);
        offset[i] = static_cast<float>(level);
        sigma[i] = static_cast<float>(params.noise.sigma(level, 1));
        for (int table = 0; table < 3; ++table) {
            double cosine = 0, sine = 0;
            for (int r = 0; r < surfaces; ++r) {
                const double share =
                    params.modulationContrast * (params.signalLsb * returns[r].signal);
                const double phi = 2.0 * kPi * returns[r].distanceMm / kRanges[table];
                cosine += share * std::cos(phi);
                sine += share * std::sin(phi);
            }
            inPhase[table][i] = static_cast<float>(cosine);
            quadrature[table][i] = static_cast<float>(sine);
        }
    }
}

int VgaRawSynthesis::rawLines(VgaFrequencyMode mode) const {
    return SI4C_RAW_LINES(truth.height, blocks(mode));
}

size_t VgaRawSynthesis::blockSamples() const {
    return static_cast<size_t>(truth.width) * (truth.height + SI4C_EMBEDDED_LINES);
}

size_t VgaRawSynthesis::rawSamples(VgaFrequencyMode mode) const {
    return blockSamples() * blocks(mode);
}

size_t VgaRawSynthesis::synthesize(uint64_t frame, VgaFrequencyMode mode, uint16_t* dst,
                                   size_t capacity) const {
    const size_t total = rawSamples(mode);
    if (dst == nullptr || capacity < total) return 0;
    const size_t perBlock = blockSamples();
    for (int block = 0; block < blocks(mode); ++block) {
        synthesizeBlock(frame, mode, block, dst + block * perBlock, capacity - block * perBlock);
    }
    return total;
}

size_t VgaRawSynthesis::synthesizeBlock(uint64_t frame, VgaFrequencyMode mode, int block,
                                        uint16_t* dst, size_t capacity) const {
    const size_t perBlock = blockSamples();
    if (block < 0 || block >= blocks(mode) || dst == nullptr || capacity < perBlock) return 0;
    const int frequency = block / SI4C_BLOCKS_PER_FREQUENCY;
    const int kind = block % SI4C_BLOCKS_PER_FREQUENCY;
    const int table = tableOf(mode, frequency);

    uint16_t* embedded = dst;
    std::fill(embedded, embedded + truth.width, uint16_t{0});
    if (truth.width > SI4C_EMBEDDED_FRAME_COUNTER) {
        embedded[SI4C_EMBEDDED_BLOCK_KIND] = static_cast<uint16_t>(kind);
        embedded[SI4C_EMBEDDED_FREQUENCY_INDEX] = static_cast<uint16_t>(frequency);
        embedded[SI4C_EMBEDDED_UNAMBIGUOUS_RANGE_MM] = static_cast<uint16_t>(kRanges[table]);
        embedded[SI4C_EMBEDDED_FRAME_COUNTER] = static_cast<uint16_t>(frame & 0xFFF);
    }

    // cos(phi + k pi/2) for k = 0..3 is cos, -sin, -cos, sin.
    const float* cosines = inPhase[table].data();
    const float* sines = quadrature[table].data();
    const uint64_t stream = params.noise.stream(frame, static_cast<uint64_t>(block));
    const bool noisy = params.noise.enabled;
    uint16_t* image = dst + truth.width;
    const int pixels = truth.pixels();
    for (int i = 0; i < pixels; ++i) {
        double value = offset[i];
        switch (kind) {
            case SI4C_BLOCK_PHASE_0:
                value += cosines[i];
                break;
            case SI4C_BLOCK_PHASE_90:
                value -= sines[i];
                break;
            case SI4C_BLOCK_PHASE_180:
                value -= cosines[i];
                break;
            case SI4C_BLOCK_PHASE_270:
                value += sines[i];
                break;
            default:
                break;  // grey: offset only
        }
        if (noisy) value += sigma[i] * NoiseModel::variate(stream, static_cast<uint64_t>(i));
        const double rounded = std::floor(value + 0.5);
        image[i] = static_cast<uint16_t>(std::clamp(rounded, 0.0, double(SI4C_SAMPLE_MAX)));
    }
    return perBlock;
}

}  // namespace sim
}  // namespace Quarvel
