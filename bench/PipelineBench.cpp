// Whole-pipeline benchmark: replaying sensor -> capture thread -> device -> pool -> consumer.
// Writes one JSON object of figures (see docs/performance.md for their meaning).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/AllocationCounter.h"
#include "bench/support/HqvgaScene.h"
#include "bench/support/ReplayComponents.h"
#include "core/QuarvelTOFCamera.h"
#include "device/HqvgaKernels.h"

using namespace Quarvel;
using bench::steadyNowNs;

namespace {

struct Percentiles {
    double medianUs = 0;
    double p99Us = 0;
};

Percentiles percentilesOf(std::vector<int64_t> samplesNs) {
    Percentiles result;
    if (samplesNs.empty()) return result;
    std::sort(samplesNs.begin(), samplesNs.end());
    result.medianUs = samplesNs[samplesNs.size() / 2] / 1000.0;
    result.p99Us = samplesNs[std::min(samplesNs.size() - 1, samplesNs.size() * 99 / 100)] / 1000.0;
    return result;
}

double threadCpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

// The work one depth frame needs without any pipeline: copy into the cache, compute.
double bareFrameMicroseconds(const std::vector<std::vector<uint8_t>>& frames) {
    auto device = createHqvgaDevice(BOARD_UNKNOWN);
    std::vector<uint8_t> cache(hqvga::kRawBytes);
    std::vector<float> depth(hqvga::kPixels), amplitude(hqvga::kPixels), confidence(hqvga::kPixels);
    const int64_t start = steadyNowNs();
    int64_t now = start;
    long count = 0;
    while (now - start < 1000000000LL) {
        const auto& frame = frames[count % frames.size()];
        std::memcpy(cache.data(), frame.data(), cache.size());
        device->getPhaseImage(cache.data(), depth.data(), amplitude.data(), confidence.data());
        ++count;
        now = steadyNowNs();
    }
    return (now - start) / 1000.0 / count;
}

struct StreamResult {
    double fps = 0;
    Percentiles latency;
    double allocationsPerFrame = 0;
    double captureCpuShare = 0;  // of one core
    long frames = 0;
};

// Streams depth frames to a consumer that requests and releases, for `seconds` after a warm-up.
StreamResult stream(const std::vector<std::vector<uint8_t>>& frames,
                    std::chrono::nanoseconds period, double seconds) {
    bench::ReplayComponents components(&frames, hqvga::kWidth, hqvga::kHeight);
    components.framePeriod = period;
    QuarvelTOFCamera camera(components, "/nonexistent/model");
    StreamResult result;
    if (camera.open(Connection::CSI, 0) != 0 || camera.start(FrameType::DEPTH) != 0) {
        std::fprintf(stderr, "pipeline: camera did not start\n");
        return result;
    }
    bench::ReplayingSensor* sensor = components.sensor;
    std::vector<int64_t> latencies;
    latencies.reserve(4000000);

    auto consumeUntil = [&](int64_t endNs, bool record) {
        long count = 0;
        while (steadyNowNs() < endNs) {
            QuarvelFrameBuffer* frame = camera.requestFrame(200);
            if (frame == nullptr) continue;
            const int64_t returned = steadyNowNs();
            FrameDataFormat format{};
            frame->getFormat(FrameType::DEPTH, format);
            if (record) latencies.push_back(returned - sensor->handedOverAt(format.timestamp));
            camera.releaseFrame(frame);
            ++count;
        }
        return count;
    };

    consumeUntil(steadyNowNs() + 300000000LL, false);  // warm-up: caches, first adaptations
    while (!sensor->captureClockKnown()) std::this_thread::yield();
    const uint64_t allocationsBefore = bench::heapAllocations();
    const double cpuBefore = threadCpuSeconds(sensor->captureClock());
    const int64_t start = steadyNowNs();
    result.frames = consumeUntil(start + static_cast<int64_t>(seconds * 1e9), true);
    const int64_t end = steadyNowNs();
    const double cpuAfter = threadCpuSeconds(sensor->captureClock());
    const uint64_t allocationsAfter = bench::heapAllocations();
    camera.stop();
    camera.close();

    const double wall = (end - start) * 1e-9;
    result.fps = result.frames / wall;
    result.latency = percentilesOf(latencies);
    result.allocationsPerFrame =
        result.frames ? static_cast<double>(allocationsAfter - allocationsBefore) / result.frames
                      : 0.0;
    result.captureCpuShare = (cpuAfter - cpuBefore) / wall;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out;
    double seconds = 3.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--out=", 6) == 0) out = argv[i] + 6;
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::atof(argv[i] + 10);
    }
    const auto frames = bench::synthesiseHqvgaFrames(16);

    const double bareUs = bareFrameMicroseconds(frames);
    const StreamResult unpaced = stream(frames, std::chrono::nanoseconds(0), seconds);
    const StreamResult paced =
        stream(frames, std::chrono::nanoseconds(1000000000LL / 30), seconds + 2.0);

    char json[2048];
    std::snprintf(json, sizeof json,
                  "{\n"
                  "  \"bare_frame_us\": %.3f,\n"
                  "  \"unpaced\": {\"fps\": %.1f, \"frames\": %ld, \"latency_median_us\": %.1f,"
                  " \"latency_p99_us\": %.1f, \"allocations_per_frame\": %.4f,"
                  " \"capture_cpu_share\": %.4f},\n"
                  "  \"paced30\": {\"fps\": %.2f, \"frames\": %ld, \"latency_median_us\": %.1f,"
                  " \"latency_p99_us\": %.1f, \"allocations_per_frame\": %.4f,"
                  " \"capture_cpu_share\": %.5f}\n"
                  "}\n",
                  bareUs, unpaced.fps, unpaced.frames, unpaced.latency.medianUs,
                  unpaced.latency.p99Us, unpaced.allocationsPerFrame, unpaced.captureCpuShare,
                  paced.fps, paced.frames, paced.latency.medianUs, paced.latency.p99Us,
                  paced.allocationsPerFrame, paced.captureCpuShare);
    std::fputs(json, stdout);
    if (!out.empty()) {
        FILE* file = std::fopen(out.c_str(), "w");
        if (file == nullptr) return 1;
        std::fputs(json, file);
        std::fclose(file);
    }
    return 0;
}
