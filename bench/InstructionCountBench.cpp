// Runs one routine a given number of times on fixed inputs, for counting executed
// instructions under an emulator (bench/qemu/, bench/arm_instruction_counts.py): the count of
// n runs minus that of m runs, divided by n - m, is the routine's own count per call with
// the setup cancelled out. Usage: quarvel_bench_instructions ROUTINE REPETITIONS
// (no arguments: lists the routines). Exit status 2 on a bad argument.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/support/HqvgaScene.h"
#include "device/HqvgaKernels.h"
#include "device/HqvgaPhaseKernel.h"
#include "sdk/phase/si4c.h"
#include "sensor/SubframeCopy.h"
#include "sim/scene/SimulatedCameraConfig.h"
#include "sim/scene/VgaRawSynthesis.h"

using namespace Quarvel;

namespace {

// Deterministic bytes: the copy routines' paths do not depend on the values.
std::vector<uint8_t> bytesOf(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 7);
    return bytes;
}

// Keeps the compiler from dropping a result nobody reads.
void keep(const void* data) { __asm__ volatile("" : : "r"(data) : "memory"); }

int runHqvga(bool reference, int repetitions) {
    const std::vector<uint8_t> raw = bench::synthesiseHqvgaFrames(1).front();
    std::vector<float> depth(hqvga::kPixels), amplitude(hqvga::kPixels),
        confidence(hqvga::kPixels);
    const hqvga::PhaseImageFunction run =
        reference ? hqvga::phaseImageReference : hqvga::phaseImage;
    for (int n = 0; n < repetitions; ++n) {
        run(raw.data(), 0, 4000, hqvga::kFrequency4m, depth.data(), amplitude.data(),
            confidence.data());
        keep(depth.data());
    }
    return 0;
}

int runRaw(bool reference, int repetitions) {
    const std::vector<uint8_t> raw = bench::synthesiseHqvgaFrames(1).front();
    std::vector<int16_t> plane(hqvga::kRawSamples);
    for (int n = 0; n < repetitions; ++n) {
        (reference ? hqvga::rawInterleaveReference : hqvga::rawInterleave)(raw.data(), 0,
                                                                           plane.data());
        keep(plane.data());
    }
    return 0;
}

int runCopy(SubframeCopy routine, size_t sourceBytes, size_t outputBytes, uint32_t width,
            int repetitions) {
    const std::vector<uint8_t> source = bytesOf(sourceBytes);
    std::vector<uint8_t> destination(outputBytes);
    for (int n = 0; n < repetitions; ++n) {
        size_t position = 0;
        routine(source.data(), source.size(), destination.data(), destination.size(), width,
                &position);
        keep(destination.data());
    }
    return 0;
}

int runMemcpy(size_t bytes, int repetitions) {
    const std::vector<uint8_t> source = bytesOf(bytes);
    std::vector<uint8_t> destination(bytes);
    for (int n = 0; n < repetitions; ++n) {
        std::memcpy(destination.data(), source.data(), bytes);
        keep(destination.data());
    }
    return 0;
}

// The stand-in phase library on one 640x480 frame of the simulated VGA sensor.
int runPhaseLibrary(bool single, int repetitions) {
    sim::SimulatedCameraConfig config;
    config.sensor = sim::SensorModel::Vga;
    config.vgaFrequency = single ? sim::VgaFrequencyMode::Single : sim::VgaFrequencyMode::Dual;
    config.scene = single ? sim::SceneKind::Near : sim::SceneKind::Standard;
    const sim::VgaRawSynthesis synthesis(config.makeScene().render(config.imageGeometry()),
                                         config.vgaParams());
    std::vector<uint16_t> raw(synthesis.rawSamples(config.vgaFrequency));
    synthesis.synthesize(0, config.vgaFrequency, raw.data(), raw.size());
    constexpr size_t kPixels = 640 * 480;
    std::vector<float> depth(kPixels), amplitude(kPixels), confidence(kPixels);
    SiSDKHandle handle = nullptr;
    const bool started = SiSDKCreate(&handle) && SiSDKInit(handle, 640, 480) &&
                         SiSDKSetSingleFreq(handle, single) && SiSDKStart(handle);
    bool ok = started;
    for (int n = 0; ok && n < repetitions; ++n) {
        ok = SiSDKGetPhaseImage(handle, raw.data(), depth.data(), amplitude.data(),
                                confidence.data());
        keep(depth.data());
    }
    SiSDKDestroy(&handle);
    if (!ok) std::fprintf(stderr, "the phase library refused the frame\n");
    return ok ? 0 : 1;
}

struct Routine {
    const char* name;
    int (*run)(int repetitions);
};

const Routine kRoutines[] = {
    {"hqvga-phase", [](int n) { return runHqvga(false, n); }},
    {"hqvga-phase-reference", [](int n) { return runHqvga(true, n); }},
    {"hqvga-raw", [](int n) { return runRaw(false, n); }},
    {"hqvga-raw-reference", [](int n) { return runRaw(true, n); }},
    {"csi-line-stride", [](int n) { return runCopy(copyLineStride, 92160, 86400, 240, n); }},
    {"csi-block-reorder",
     [](int n) { return runCopy(copyBlockReorder, 614400, 614400, 640, n); }},
    {"csi-y12p-unpack",
     [](int n) { return runCopy(unpackY12P, 640 * 960 / 2 * 3 / 2 + 8, 614400, 640, n); }},
    {"csi-y12p-unpack-padded",
     [](int n) { return runCopy(unpackY12P, 180 * 368 + 8, 86400, 240, n); }},
    {"memcpy-86400", [](int n) { return runMemcpy(86400, n); }},
    {"memcpy-614400", [](int n) { return runMemcpy(614400, n); }},
    {"phase-library-single", [](int n) { return runPhaseLibrary(true, n); }},
    {"phase-library-dual", [](int n) { return runPhaseLibrary(false, n); }},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        for (const Routine& routine : kRoutines) std::printf("%s\n", routine.name);
        return argc == 1 ? 0 : 2;
    }
    char* end = nullptr;
    const long repetitions = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || repetitions < 0 || repetitions > 100000) {
        std::fprintf(stderr, "bad repetition count '%s'\n", argv[2]);
        return 2;
    }
    for (const Routine& routine : kRoutines) {
        if (std::strcmp(routine.name, argv[1]) == 0) {
            return routine.run(static_cast<int>(repetitions));
        }
    }
    std::fprintf(stderr, "unknown routine '%s'\n", argv[1]);
    return 2;
}
