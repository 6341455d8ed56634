// The stand-in phase library per 640x480 frame, single and dual frequency, through its C
// entry points as the VGA device calls them.
// Extra flag: --write-vga=DIRECTORY stores, per mode (single, dual), the benchmarked raw
// frames ("<mode>_raw.bin", frames one after the other) and the library's depth, amplitude
// and confidence of each frame processed in that order from a fresh start
// ("<mode>_planes.bin", float32), so that the numpy twin can run on the same frames and be
// checked against the library. Run it in a directory without "ConfigAlgorithm.json": the
// library reads that file, and the figures are for its defaults.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sdk/phase/si4c.h"
#include "sim/scene/SimulatedCameraConfig.h"
#include "sim/scene/VgaRawSynthesis.h"

using namespace Quarvel;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;
// Distinct frames processed in turn, so that the temporal filters see changing input.
constexpr int kFrames = 4;

struct Mode {
    const char* name;
    sim::VgaFrequencyMode frequency;
    sim::SceneKind scene;  // within the mode's range: near for 1250 mm, standard for 4500 mm
};
constexpr Mode kSingle{"single", sim::VgaFrequencyMode::Single, sim::SceneKind::Near};
constexpr Mode kDual{"dual", sim::VgaFrequencyMode::Dual, sim::SceneKind::Standard};

// kFrames raw frames of the mode's scene with sensor noise, as 16-bit little-endian words.
const std::vector<std::vector<uint16_t>>& framesOf(const Mode& mode) {
    static std::vector<std::vector<uint16_t>> cache[2];
    std::vector<std::vector<uint16_t>>& frames =
        cache[mode.frequency == sim::VgaFrequencyMode::Dual ? 1 : 0];
    if (frames.empty()) {
        sim::SimulatedCameraConfig config;
        config.sensor = sim::SensorModel::Vga;
        config.vgaFrequency = mode.frequency;
        config.scene = mode.scene;
        const sim::VgaRawSynthesis synthesis(config.makeScene().render(config.imageGeometry()),
                                             config.vgaParams());
        for (int n = 0; n < kFrames; ++n) {
            frames.emplace_back(synthesis.rawSamples(mode.frequency));
            synthesis.synthesize(static_cast<uint64_t>(n), mode.frequency, frames.back().data(),
                                 frames.back().size());
        }
    }
    return frames;
}

// An instance started for the mode with the library's default parameters.
class StartedLibrary {
public:
    explicit StartedLibrary(const Mode& mode) {
        ok = SiSDKCreate(&handle) && SiSDKInit(handle, kWidth, kHeight) &&
             SiSDKSetSingleFreq(handle, mode.frequency == sim::VgaFrequencyMode::Single) &&
             SiSDKStart(handle);
    }
    ~StartedLibrary() { SiSDKDestroy(&handle); }
    StartedLibrary(const StartedLibrary&) = delete;
    StartedLibrary& operator=(const StartedLibrary&) = delete;

    bool process(const std::vector<uint16_t>& raw, float* depth, float* amplitude,
                 float* confidence) {
        return SiSDKGetPhaseImage(handle, raw.data(), depth, amplitude, confidence);
    }
    bool ok = false;

private:
    SiSDKHandle handle = nullptr;
};

void runLibrary(benchmark::State& state, const Mode& mode) {
    const auto& frames = framesOf(mode);
    StartedLibrary library(mode);
    std::vector<float> depth(kPixels), amplitude(kPixels), confidence(kPixels);
    if (!library.ok) {
        state.SkipWithError("the phase library did not start");
        return;
    }
    size_t n = 0;
    for (auto _ : state) {
        if (!library.process(frames[n++ % frames.size()], depth.data(), amplitude.data(),
                             confidence.data())) {
            state.SkipWithError("the phase library refused a frame");
            break;
        }
        benchmark::DoNotOptimize(depth.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(frames.front().size() * 2));
}

void PhaseLibrarySingle(benchmark::State& state) { runLibrary(state, kSingle); }
void PhaseLibraryDual(benchmark::State& state) { runLibrary(state, kDual); }

bool writeMode(const std::string& directory, const Mode& mode) {
    const auto& frames = framesOf(mode);
    const std::string prefix = directory + "/" + mode.name;
    FILE* raw = std::fopen((prefix + "_raw.bin").c_str(), "wb");
    FILE* planes = std::fopen((prefix + "_planes.bin").c_str(), "wb");
    bool ok = raw != nullptr && planes != nullptr;
    StartedLibrary library(mode);
    ok = ok && library.ok;
    std::vector<float> depth(kPixels), amplitude(kPixels), confidence(kPixels);
    for (const auto& frame : frames) {
        if (!ok) break;
        ok = library.process(frame, depth.data(), amplitude.data(), confidence.data()) &&
             std::fwrite(frame.data(), 2, frame.size(), raw) == frame.size() &&
             std::fwrite(depth.data(), 4, kPixels, planes) == kPixels &&
             std::fwrite(amplitude.data(), 4, kPixels, planes) == kPixels &&
             std::fwrite(confidence.data(), 4, kPixels, planes) == kPixels;
    }
    if (raw != nullptr) std::fclose(raw);
    if (planes != nullptr) std::fclose(planes);
    return ok;
}

}  // namespace

BENCHMARK(PhaseLibrarySingle)->Unit(benchmark::kMicrosecond);
BENCHMARK(PhaseLibraryDual)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    std::vector<char*> remaining;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--write-vga=", 12) == 0) {
            const std::string directory = argv[i] + 12;
            if (!writeMode(directory, kSingle) || !writeMode(directory, kDual)) {
                std::fprintf(stderr, "phase library: cannot write the frames and planes\n");
                return 1;
            }
            continue;
        }
        remaining.push_back(argv[i]);
    }
    int remainingCount = static_cast<int>(remaining.size());
    benchmark::Initialize(&remainingCount, remaining.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
