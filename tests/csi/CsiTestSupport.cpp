// Shared helpers of the CSI tests.
#include "tests/csi/CsiTestSupport.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace Quarvel {
namespace csitest {

OpenSensor::OpenSensor(sim::SimBoardBuilder builder, bool start, const char* videoPath, int model)
    : board(builder.paced(false).build()) {
    sensor = std::make_unique<QuarvelTOFCSISensor>(board->kernel(), videoPath,
                                                   model < 0 ? board->expectedModel() : model);
    message = capturedStderr([&] { openResult = sensor->open(info); });
    sensor->subframeCount = 4;
    if (start) {
        EXPECT_EQ(openResult, 0) << message;
        EXPECT_EQ(sensor->start(), 0);
    }
}

int OpenSensor::calls(sim::Call call, unsigned long request) const {
    const auto trace = board->kernel().trace();
    return static_cast<int>(std::count_if(trace.begin(), trace.end(), [&](const auto& record) {
        return record.call == call && (request == 0 || record.request == request);
    }));
}

bool OpenSensor::isOpen(const std::string& path) const {
    const auto paths = board->kernel().openDescriptorPaths();
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

bool OpenSensor::holdsSubframe(const uint8_t* frame, int part, uint64_t sensorFrame,
                               int subframe) {
    const auto expected = synthesised(*board, sensorFrame, subframe, false);
    return wordMismatches(board->kind(), frame, part * expected.size(), expected,
                          expected.size()) == 0;
}

std::vector<uint16_t> synthesised(sim::SimBoard& board, uint64_t frame, int subframe,
                                  bool shortRange) {
    const sim::FrameSize size = board.chip().activeSize();
    std::vector<uint16_t> samples(static_cast<size_t>(size.width) * size.height);
    board.chip().synthesize(frame, subframe, size, shortRange, samples.data(), samples.size());
    return samples;
}

uint16_t deliveredWord(sim::BoardKind kind, uint16_t sample) {
    sample &= 0x0FFF;
    if (kind == sim::BoardKind::JetsonXavierNx || kind == sim::BoardKind::JetsonAgxOrin) {
        return static_cast<uint16_t>((sample << 4) | (sample >> 8));
    }
    return sample;
}

int wordMismatches(sim::BoardKind kind, const uint8_t* frame, size_t first,
                   const std::vector<uint16_t>& expected, size_t count) {
    int mismatches = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 2 * (first + i);
        const auto word = static_cast<uint16_t>(frame[at] | (frame[at + 1] << 8));
        mismatches += word != deliveredWord(kind, expected[i]);
    }
    return mismatches;
}

int phaseValue(uint16_t sample) {
    const int field = sample & 0x7FF;
    return (field & 0x400) ? field - 0x800 : field;
}

DepthCheck checkHqvgaDepth(sim::SimBoard& board, const float* depth, bool shortRange) {
    const sim::HqvgaRawSynthesis& synthesis = *board.chip().hqvga();
    const sim::GroundTruth& truth = synthesis.groundTruth();
    const sim::HqvgaModulation modulation =
        shortRange ? sim::HqvgaModulation::ShortRange : sim::HqvgaModulation::LongRange;
    const double frequency = sim::HqvgaRawSynthesis::modulationFrequencyHz(modulation);
    const double wrap = sim::HqvgaRawSynthesis::unambiguousRangeMm(modulation);
    const double millimetresPerRadian = 3e8 / (4.0 * M_PI * frequency) * 1000.0;

    DepthCheck check;
    std::vector<double> relative;
    double worstExcess = 0.0;
    for (int pixel = 0; pixel < truth.pixels(); ++pixel) {
        const double distance = truth.distanceMm[pixel];
        if (distance <= 0.0 || synthesis.saturated(pixel, modulation)) continue;
        // Each sample is off by at most e; each difference by 2e, the vector by 2 sqrt(2) e
        // against its length 2a: the phase by at most asin(sqrt(2) e / a).
        const double e = sim::NoiseModel::kLimitSigmas * synthesis.noiseSigmaLsb(pixel) + 0.5;
        const double a = synthesis.amplitudeLsb(pixel);
        if (!(std::sqrt(2.0) * e < a)) continue;
        const double bound = std::asin(std::sqrt(2.0) * e / a) * millimetresPerRadian + 1.0;
        double error = std::fmod(std::fabs(depth[pixel] - std::fmod(distance, wrap)), wrap);
        error = std::min(error, wrap - error);
        ++check.validPixels;
        relative.push_back(error / distance);
        if (error > bound) {
            ++check.pixelsBeyondBound;
            if (error - bound > worstExcess) {
                worstExcess = error - bound;
                std::ostringstream text;
                text << "pixel " << pixel << " depth " << depth[pixel] << " truth " << distance
                     << " bound " << bound;
                check.worst = text.str();
            }
        }
    }
    if (!relative.empty()) {
        std::nth_element(relative.begin(), relative.begin() + relative.size() / 2, relative.end());
        check.medianRelativeError = relative[relative.size() / 2];
    }
    return check;
}

GuardedBuffer::GuardedBuffer(size_t size, uint8_t fill) : length(size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t body = (size + page - 1) / page * page;
    regionLength = body + page;
    region = static_cast<uint8_t*>(
        mmap(nullptr, regionLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(region + body, page, PROT_NONE);
    begin = region + body - size;
    std::memset(begin, fill, size);
}

GuardedBuffer::~GuardedBuffer() { munmap(region, regionLength); }

}  // namespace csitest
}  // namespace Quarvel
