// Stress-test helpers: scale, expected planes of the replaying camera, delivery checks.
#include "tests/stress/StressSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/HqvgaKernels.h"
#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/SimulatedCameraConfig.h"

namespace stress {

using namespace Quarvel;

std::string replayingHqvgaCamera() { return "sensor = hqvga\npacing = replay\nfps = 60\n"; }

namespace {

constexpr size_t kPrefixBytes = 32;

std::string prefixOf(const void* data) {
    return std::string(static_cast<const char*>(data), kPrefixBytes);
}

}  // namespace

ReplayedFrames::ReplayedFrames() {
    sim::SimulatedCameraConfig config;
    std::string error;
    if (!sim::SimulatedCameraConfig::parse(replayingHqvgaCamera(), config, error)) {
        std::fprintf(stderr, "stress: bad camera description: %s\n", error.c_str());
        std::abort();
    }
    const sim::GroundTruth truth = config.makeScene().render(config.imageGeometry());
    const sim::HqvgaRawSynthesis synthesis(truth, config.hqvgaParams());
    const size_t pixels = hqvga::kPixels;
    struct Range {
        int millimetres;
        float frequency;
    };
    const Range ranges[] = {{4000, hqvga::kFrequency4m}, {2000, hqvga::kFrequency2m}};
    std::vector<uint16_t> samples(pixels * hqvga::kSubframes);
    std::vector<uint8_t> raw(hqvga::kRawBytes);
    std::vector<float> depth(pixels), amplitude(pixels), confidence(pixels);
    std::vector<int16_t> rawPlane(hqvga::kRawSamples);
    // The device hands each range on to the sensor, which latches it at a frame's start:
    // around a change a frame may come in either modulation and meet either range.
    const sim::HqvgaModulation modulations[] = {sim::HqvgaModulation::LongRange,
                                                sim::HqvgaModulation::ShortRange};
    for (int index = 0; index < 8; ++index) {
        const uint64_t frame = static_cast<uint64_t>(index % 4);
        for (int subframe = 0; subframe < hqvga::kSubframes; ++subframe) {
            synthesis.synthesize(frame, subframe, modulations[index / 4],
                                 samples.data() + pixels * subframe, pixels);
        }
        for (size_t i = 0; i < samples.size(); ++i) {  // little-endian words, as delivered
            raw[2 * i] = static_cast<uint8_t>(samples[i] & 0xFF);
            raw[2 * i + 1] = static_cast<uint8_t>(samples[i] >> 8);
        }
        for (const Range& range : ranges) {
            hqvga::phaseImageReference(raw.data(), 0, range.millimetres, range.frequency,
                                       depth.data(), amplitude.data(), confidence.data());
            const auto* bytes = reinterpret_cast<const uint8_t*>(depth.data());
            depthByPrefix[prefixOf(bytes)] = static_cast<int>(depthPlanes.size());
            depthPlanes.emplace_back(bytes, bytes + pixels * sizeof(float));
        }
        hqvga::rawInterleaveReference(raw.data(), 0, rawPlane.data());
        const auto* bytes = reinterpret_cast<const uint8_t*>(rawPlane.data());
        rawByPrefix[prefixOf(bytes)] = static_cast<int>(rawPlanes.size());
        rawPlanes.emplace_back(bytes, bytes + rawPlane.size() * sizeof(int16_t));
    }
    if (depthByPrefix.size() != depthPlanes.size() || rawByPrefix.size() != rawPlanes.size()) {
        std::fprintf(stderr, "stress: replayed frames are not told apart by their first bytes\n");
        std::abort();
    }
}

int ReplayedFrames::match(const std::vector<std::vector<uint8_t>>& planes,
                          const std::map<std::string, int>& byPrefix, const void* data,
                          size_t bytes) {
    if (data == nullptr || bytes < kPrefixBytes) return -1;
    const auto found = byPrefix.find(prefixOf(data));
    if (found == byPrefix.end()) return -1;
    const std::vector<uint8_t>& plane = planes[static_cast<size_t>(found->second)];
    if (plane.size() != bytes || std::memcmp(plane.data(), data, bytes) != 0) return -1;
    return found->second;
}

int ReplayedFrames::matchDepth(QuarvelFrameBuffer& frame) const {
    FrameDataFormat format{};
    if (frame.getFormat(FrameType::DEPTH, format) != 0) return -1;
    const size_t bytes = static_cast<size_t>(format.width) * format.height * sizeof(float);
    return match(depthPlanes, depthByPrefix, frame.getData(FrameType::DEPTH), bytes);
}

int ReplayedFrames::matchRaw(QuarvelFrameBuffer& frame) const {
    FrameDataFormat format{};
    if (frame.getFormat(FrameType::RAW, format) != 0) return -1;
    const size_t bytes = static_cast<size_t>(format.width) * format.height * sizeof(int16_t);
    return match(rawPlanes, rawByPrefix, frame.getData(FrameType::RAW), bytes);
}

void DeliveryChecker::newStream(FrameType streamType) {
    type = streamType;
    anyInStream = false;
    lastTimestamp = 0;
}

void DeliveryChecker::fault(const std::string& what) {
    // A broken run could list millions; the first few tell the story.
    if (faults.size() < 20) faults.push_back(what);
}

void DeliveryChecker::handedOut(QuarvelFrameBuffer* frame) {
    ++checked;
    if (frame == nullptr) return fault("null frame counted as delivered");
    if (!held.insert(frame).second) fault("a buffer the user holds was handed out again");
    FrameDataFormat format{};
    if (frame->getFormat(type, format) != 0) return fault("frame of the wrong output type");
    // Described only for a fault: this runs for every frame of a long stream.
    const auto where = [&] {
        return "frame " + std::to_string(checked) + " (timestamp " +
               std::to_string(format.timestamp) + ")";
    };
    if (anyInStream && format.timestamp <= lastTimestamp) {
        fault(where() + " is not newer than the one before (" + std::to_string(lastTimestamp) +
              ")");
    }
    if (format.timestamp == 0) fault(where() + " carries no timestamp");
    lastTimestamp = format.timestamp;
    anyInStream = true;
    if (expected == nullptr) return;
    const int index =
        type == FrameType::RAW ? expected->matchRaw(*frame) : expected->matchDepth(*frame);
    if (index < 0) fault(where() + " matches no frame the camera can deliver");
}

void DeliveryChecker::released(QuarvelFrameBuffer* frame) { held.erase(frame); }

}  // namespace stress
