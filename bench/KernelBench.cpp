// Per-frame kernels against their baselines: the plain reference and memcpy of the frame.
// Extra flags: --write-hqvga-frame=PATH stores the benchmarked raw frame, and
// --write-hqvga-planes=PATH the library's depth and amplitude of it (float32, one after the
// other), so that the numpy baseline can run on the same frame and be checked against it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/support/HqvgaScene.h"
#include "core/CpuLevelOverride.h"
#include "core/InstructionSetClones.h"
#include "device/HqvgaKernels.h"
#include "device/HqvgaPhaseKernel.h"
#include "sensor/Y12PLines.h"

using namespace Quarvel;

namespace {

const std::vector<uint8_t>& sceneFrame() {
    static const std::vector<uint8_t> frame = bench::synthesiseHqvgaFrames(1).front();
    return frame;
}

struct DepthPlanes {
    std::vector<float> depth = std::vector<float>(hqvga::kPixels);
    std::vector<float> amplitude = std::vector<float>(hqvga::kPixels);
    std::vector<float> confidence = std::vector<float>(hqvga::kPixels);
};

void runPhase(benchmark::State& state, hqvga::PhaseImageFunction function) {
    const auto& raw = sceneFrame();
    DepthPlanes planes;
    for (auto _ : state) {
        function(raw.data(), 0, 4000, hqvga::kFrequency4m, planes.depth.data(),
                 planes.amplitude.data(), planes.confidence.data());
        benchmark::DoNotOptimize(planes.depth.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * hqvga::kRawBytes);
}

void HqvgaPhaseImage(benchmark::State& state) { runPhase(state, hqvga::phaseImage); }
void HqvgaPhaseImageReference(benchmark::State& state) {
    runPhase(state, hqvga::phaseImageReference);
}

void runRaw(benchmark::State& state, void (*function)(const uint8_t*, unsigned, int16_t*)) {
    const auto& raw = sceneFrame();
    std::vector<int16_t> plane(hqvga::kRawSamples);
    for (auto _ : state) {
        function(raw.data(), 0, plane.data());
        benchmark::DoNotOptimize(plane.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * hqvga::kRawBytes);
}

void HqvgaRawImages(benchmark::State& state) { runRaw(state, hqvga::rawInterleave); }
void HqvgaRawImagesReference(benchmark::State& state) {
    runRaw(state, hqvga::rawInterleaveReference);
}

// The physical limit: copying `bytes` bytes.
void Memcpy(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> source(bytes, 0x5A), destination(bytes);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), bytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

}  // namespace

BENCHMARK(HqvgaPhaseImage);
BENCHMARK(HqvgaPhaseImageReference);
BENCHMARK(HqvgaRawImages);
BENCHMARK(HqvgaRawImagesReference);
// Output sizes of the kernels and copy routines benchmarked in this program.
BENCHMARK(Memcpy)->Arg(static_cast<int64_t>(hqvga::kRawBytes))->Arg(86400)->Arg(614400);

int main(int argc, char** argv) {
    std::vector<char*> remaining;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--write-hqvga-frame=", 20) == 0) {
            FILE* file = std::fopen(argv[i] + 20, "wb");
            if (file == nullptr) return 1;
            std::fwrite(sceneFrame().data(), 1, sceneFrame().size(), file);
            std::fclose(file);
            continue;
        }
        if (std::strncmp(argv[i], "--write-hqvga-planes=", 21) == 0) {
            DepthPlanes planes;
            hqvga::phaseImage(sceneFrame().data(), 0, 4000, hqvga::kFrequency4m,
                              planes.depth.data(), planes.amplitude.data(),
                              planes.confidence.data());
            FILE* file = std::fopen(argv[i] + 21, "wb");
            if (file == nullptr) return 1;
            std::fwrite(planes.depth.data(), sizeof(float), planes.depth.size(), file);
            std::fwrite(planes.amplitude.data(), sizeof(float), planes.amplitude.size(), file);
            std::fclose(file);
            continue;
        }
        remaining.push_back(argv[i]);
    }
    // Every kernel build this CPU can run, so that the table shows what each level gives.
    size_t count = 0;
    const hqvga::PhaseKernelVariant* variants = hqvga::phaseKernelVariants(&count);
    for (size_t v = 0; v < count; ++v) {
        if (!variants[v].supported()) continue;
        const hqvga::PhaseImageFunction function = variants[v].run;
        benchmark::RegisterBenchmark(
            (std::string("HqvgaPhaseImageBuild/") + variants[v].name).c_str(),
            [function](benchmark::State& state) { runPhase(state, function); });
    }
    // The level each run-time choice made (within QUARVEL_CPU_LEVEL), for the results table.
    benchmark::AddCustomContext("level_hqvga_phase", hqvga::selectedPhaseKernel().name);
    size_t y12pCount = 0;
    const Y12PLinesVariant* y12p = y12pLinesVariants(&y12pCount);
    for (size_t v = 0; v < y12pCount; ++v) {
        if (y12p[v].supported() && cpuLevelAllowed(y12p[v].name)) {
            benchmark::AddCustomContext("level_y12p", y12p[v].name);
            break;
        }
    }
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
    // The CSI copies choose among the same three builds by the same rule.
    const int level = selectedLevelBuild();
    benchmark::AddCustomContext("level_builds", level == 4   ? "x86-64-v4"
                                                : level == 3 ? "x86-64-v3"
                                                             : "baseline");
#else
    benchmark::AddCustomContext("level_builds", "baseline");
#endif
    int remainingCount = static_cast<int>(remaining.size());
    benchmark::Initialize(&remainingCount, remaining.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
