// Test helpers for the phase library and the VGA device: raw frames from known distances,
// calibration files, and scratch working directories.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace phase_test {

// A scene per pixel: distances in mm; amplitude A, offset and grey in sample units.
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
    double noiseSigma = 0.0;  // Gaussian noise on every correlation sample, sample units
    uint64_t noiseSeed = 1;
    bool dirtyHighBits = false;  // garbage in bits 12..15, which a reader must ignore
};

constexpr double kSingleRangeMm = 1250.0;

// One raw frame: 5 (single) or 10 (dual) blocks, each an embedded line (block kind, frequency
// index, unambiguous range, frame counter) and `height` lines of 12-bit little-endian samples.
// Phase block k of frequency f holds C_k = offset + A cos(phi + k pi / 2),
// phi = 4 pi f d / c, c = 3e8 m/s; block 4 the grey image.
std::vector<uint8_t> synthesiseFrame(const SyntheticScene& scene, const SynthesisOptions& options);

// "cali.bin" for width x height; tables 0, 1, 2 hold the 1250, 1500, 2250 mm offsets.
std::vector<uint8_t> calibrationFile(int width, int height,
                                     const std::function<float(int table, int x, int y)>& offset);

bool writeFile(const std::string& path, const std::string& bytes);
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

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
