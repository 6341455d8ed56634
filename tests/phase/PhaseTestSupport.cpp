// Test helpers: raw frame synthesis from distances, calibration files, scratch directories.
#include "tests/phase/PhaseTestSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace phase_test {

namespace {

void putLe16(uint8_t* at, unsigned value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void putLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> synthesiseFrame(const SyntheticScene& scene, const SynthesisOptions& options) {
    const int width = scene.width;
    const int height = scene.height;
    const std::vector<double> ranges = options.dualFrequency ? std::vector<double>{1500.0, 2250.0}
                                                             : std::vector<double>{1250.0};
    const size_t blockSamples = static_cast<size_t>(width) * static_cast<size_t>(height + 1);
    std::vector<uint8_t> frame(2 * blockSamples * 5 * ranges.size(), 0);
    std::mt19937_64 generator(options.noiseSeed);
    std::normal_distribution<double> noise(0.0, options.noiseSigma > 0 ? options.noiseSigma : 1.0);
    std::mt19937_64 garbage(options.noiseSeed ^ 0x5A5A5A5Aull);
    auto put = [&](size_t index, double value) {
        const double clamped = std::min(std::max(std::floor(value + 0.5), 0.0), 4095.0);
        unsigned word = static_cast<unsigned>(clamped);
        if (options.dirtyHighBits) word |= static_cast<unsigned>(garbage() & 0xF) << 12;
        putLe16(&frame[2 * index], word);
    };
    const double kPi = 3.14159265358979323846;
    for (size_t f = 0; f < ranges.size(); ++f) {
        // The unambiguous range c / (2 f) gives phi = 2 pi d / range.
        for (int k = 0; k < 5; ++k) {
            const size_t base = (f * 5 + static_cast<size_t>(k)) * blockSamples;
            const double embedded[] = {double(k), double(f), ranges[f], 0.0};
            for (size_t i = 0; i < 4; ++i) put(base + i, embedded[i]);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    double value = scene.grey(x, y);
                    if (k < 4) {
                        const double phi = 2.0 * kPi * scene.distanceMm(x, y) / ranges[f];
                        value = scene.offset(x, y) +
                                scene.amplitude(x, y) * std::cos(phi + k * kPi / 2.0);
                        if (options.noiseSigma > 0) value += noise(generator);
                    }
                    put(base + static_cast<size_t>(width) * (1 + y) + x, value);
                }
            }
        }
    }
    return frame;
}

std::vector<uint8_t> calibrationFile(int width, int height,
                                     const std::function<float(int, int, int)>& offset) {
    std::vector<uint8_t> out = {'S', 'I', '4', 'C', 'C', 'A', 'L', '1'};
    const uint32_t pixels = static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
    for (uint32_t field : {1u, 32u, uint32_t(width), uint32_t(height), 3u, 3 * pixels * 4}) {
        putLe32(out, field);
    }
    for (int table = 0; table < 3; ++table) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const float value = offset(table, x, y);
                uint32_t bits;
                std::memcpy(&bits, &value, sizeof bits);
                putLe32(out, bits);
            }
        }
    }
    return out;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    return writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TemporaryDirectory::TemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quarvel-phase-XXXXXX";
    if (::mkdtemp(&pattern[0]) != nullptr) directory = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    if (directory.empty()) return;
    std::error_code ignored;
    // Make read-only test directories removable again.
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(directory, ignored);
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::string& directory)
    : previous(std::filesystem::current_path().string()) {
    std::filesystem::current_path(directory);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous, ignored);
}

}  // namespace phase_test
