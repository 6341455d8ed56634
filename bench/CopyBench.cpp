// Transport copy routines per sub-frame, against memcpy of the same output bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "sensor/QuarvelTOFUSBSensor.h"
#include "sensor/SubframeCopy.h"

using namespace Quarvel;

namespace {

// Deterministic bytes: the routines' speed does not depend on the values.
std::vector<uint8_t> bytesOf(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    return bytes;
}

// One routine over one buffer of `sourceBytes`, producing `outputBytes`.
void runCopy(benchmark::State& state, SubframeCopy routine, size_t sourceBytes, size_t outputBytes,
             uint32_t width) {
    const std::vector<uint8_t> source = bytesOf(sourceBytes);
    std::vector<uint8_t> destination(outputBytes);
    size_t produced = 0;
    for (auto _ : state) {
        size_t position = 0;
        routine(source.data(), source.size(), destination.data(), destination.size(), width,
                &position);
        produced = position;
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * outputBytes);
    state.counters["produced"] = static_cast<double>(produced);
}

// 240x180 sub-frame of 180 lines at a 512-byte stride: 92160 bytes in, 86400 out.
void CsiLineStride(benchmark::State& state) { runCopy(state, copyLineStride, 92160, 86400, 240); }

// 640x480 sub-frame in 960-byte blocks: 614400 bytes in and out.
void CsiBlockReorder(benchmark::State& state) {
    runCopy(state, copyBlockReorder, 614400, 614400, 640);
}

// 640x480 packed 12-bit sub-frame: lines of 960 bytes (no padding) plus the 8 bytes the
// routine never reads; 614400 bytes of 16-bit samples out.
void CsiY12PUnpack(benchmark::State& state) {
    runCopy(state, unpackY12P, 640 * 960 / 2 * 3 / 2 + 8, 614400, 640);
}

// 240x180 packed 12-bit sub-frame: 360-byte lines padded to 368.
void CsiY12PUnpackPadded(benchmark::State& state) {
    runCopy(state, unpackY12P, 180 * 368 + 8, 86400, 240);
}

// The same routines' inputs and memcpy's sources are cache-hot above: one sub-frame is read
// again and again, so both run from the L2 cache. A dequeued V4L2 buffer was just written by
// DMA and is not in the cache at all. The cold variants read each iteration from the next of
// 1024 sources (over 64 MB, more than the last-level cache), into one destination, for the
// routine and for memcpy alike.
constexpr size_t kColdSources = 1024;

// `bytes`-long sources, one after the other, each starting on a cache line.
struct ColdSources {
    explicit ColdSources(size_t bytes)
        : stride((bytes + 63) / 64 * 64), memory(bytesOf(stride * kColdSources)) {}
    const uint8_t* next() {
        const uint8_t* source = memory.data() + stride * index;
        index = (index + 1) % kColdSources;
        return source;
    }
    size_t stride;
    std::vector<uint8_t> memory;
    size_t index = 0;
};

void CsiY12PUnpackPaddedColdSource(benchmark::State& state) {
    const size_t sourceBytes = 180 * 368 + 8;
    ColdSources sources(sourceBytes);
    std::vector<uint8_t> destination(86400);
    for (auto _ : state) {
        size_t position = 0;
        unpackY12P(sources.next(), sourceBytes, destination.data(), destination.size(), 240,
                   &position);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 86400);
}

void MemcpyColdSource(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    ColdSources sources(bytes);
    std::vector<uint8_t> destination(bytes);
    for (auto _ : state) {
        std::memcpy(destination.data(), sources.next(), bytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

// USB SDK frame of 640x480 samples to 12-bit words; state.range(0) = bit width.
void UsbSampleConversion(benchmark::State& state) {
    const uint32_t bitWidth = static_cast<uint32_t>(state.range(0));
    const uint32_t bytesPerSample = bitWidth == 8 ? 1 : 2;
    const size_t samples = 640 * 480;
    const std::vector<uint8_t> source = bytesOf(samples * bytesPerSample);
    std::vector<uint8_t> destination(samples * 2);
    for (auto _ : state) {
        const size_t produced = QuarvelTOFUSBSensor::convertSamples(
            source.data(), source.size(), bitWidth, bytesPerSample, destination.data(),
            destination.size());
        benchmark::DoNotOptimize(produced);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * destination.size());
}

}  // namespace

BENCHMARK(CsiLineStride);
BENCHMARK(CsiBlockReorder);
BENCHMARK(CsiY12PUnpack);
BENCHMARK(CsiY12PUnpackPadded);
BENCHMARK(CsiY12PUnpackPaddedColdSource);
BENCHMARK(MemcpyColdSource)->Arg(86400);
BENCHMARK(UsbSampleConversion)->Arg(8)->Arg(10)->Arg(12)->Arg(14);
