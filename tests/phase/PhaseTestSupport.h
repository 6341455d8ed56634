// Test helpers for the phase library and the VGA device: raw frames from known distances,
// calibration files, and scratch working directories.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace phase_test {

// A scene given per pixel. Distances in millimetres; amplitude, offset and grey in sample
// units (the modulation amplitude A, the constant part of the correlation samples, and the
// grey image).
struct SyntheticScene {
    int width = 640;
    int height = 480;
    std::function<double(int x, int y)> distanceMm = [](int, int) { return 1000.0; };
    std::function<double(int x, int y)> amplitude = [](int, int) { return 600.0; };
    std::function<double(int x, int y)> offset = [](int, int) { return 1200.0; };
    std::function<double(int x, int y)> grey = [](int, int) { return 1500.0; };
};

struct SynthesisOptions {
    bool dualFrequency = false;
    uint32_t frameCounter = 0;
    double noiseSigma = 0.0;  // Gaussian noise on every correlation sample, sample units
    uint64_t noiseSeed = 1;
    // Garbage in bits 12..15 of every sample, which a reader must ignore.
    bool dirtyHighBits = false;
};

// Unambiguous ranges of the modulation frequencies, millimetres.
constexpr double kSingleRangeMm = 1250.0;
constexpr double kDualFirstRangeMm = 1500.0;
constexpr double kDualSecondRangeMm = 2250.0;

// One raw frame: n = 5 (single) or 10 (dual) blocks, each an embedded line (block kind,
// frequency index, unambiguous range, frame counter) and `height` image lines of 12-bit
// samples in 16-bit little-endian words. Phase block k of a frequency f holds
//   C_k = offset + A cos(phi + k pi / 2),  phi = 4 pi f d / c,  c = 3e8 m/s,
// rounded and clamped to 0..4095; block 4 holds the grey image.
std::vector<uint8_t> synthesiseFrame(const SyntheticScene& scene, const SynthesisOptions& options);

// Samples of one raw frame.
size_t rawSamples(int width, int height, bool dualFrequency);

// A calibration file image for width x height with the three offset tables given per pixel
// (table 0: 1250 mm, 1: 1500 mm, 2: 2250 mm).
std::vector<uint8_t> calibrationFile(int width, int height,
                                     const std::function<float(int table, int x, int y)>& offset);

// Writes bytes to a file; false on failure.
bool writeFile(const std::string& path, const std::string& bytes);
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// A fresh directory under $TMPDIR, removed with its content at destruction.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& path() const { return directory; }
    std::string file(const std::string& name) const { return directory + "/" + name; }

private:
    std::string directory;
};

// Makes `directory` the working directory until destruction.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::string& directory);
    ~ScopedWorkingDirectory();
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

private:
    std::string previous;
};

}  // namespace phase_test
