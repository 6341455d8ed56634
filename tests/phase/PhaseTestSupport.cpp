// Test helpers: raw frame synthesis from distances, calibration files, scratch directories.
#include "tests/phase/PhaseTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace phase_test {

namespace {

constexpr double kSpeedOfLight = 3.0e8;  // m/s, as the sensor documentation rounds it
constexpr double kPi = 3.14159265358979323846;

void putSample(std::vector<uint8_t>& frame, size_t index, unsigned value, bool dirty,
               std::mt19937_64& bits) {
    unsigned word = value & 0x0FFFu;
    if (dirty) word |= static_cast<unsigned>(bits() & 0xF) << 12;
    frame[2 * index] = static_cast<uint8_t>(word & 0xFF);
    frame[2 * index + 1] = static_cast<uint8_t>(word >> 8);
}

unsigned toSample(double value) {
    const double rounded = std::floor(value + 0.5);
    return static_cast<unsigned>(std::min(std::max(rounded, 0.0), 4095.0));
}

void putLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

size_t rawSamples(int width, int height, bool dualFrequency) {
    return static_cast<size_t>(width) * static_cast<size_t>(height + 1) *
           (dualFrequency ? 10u : 5u);
}

std::vector<uint8_t> synthesiseFrame(const SyntheticScene& scene, const SynthesisOptions& options) {
    const int width = scene.width;
    const int height = scene.height;
    const std::vector<double> ranges =
        options.dualFrequency ? std::vector<double>{kDualFirstRangeMm, kDualSecondRangeMm}
                              : std::vector<double>{kSingleRangeMm};
    std::vector<uint8_t> frame(2 * rawSamples(width, height, options.dualFrequency), 0);
    std::mt19937_64 generator(options.noiseSeed);
    std::normal_distribution<double> noise(0.0, options.noiseSigma > 0 ? options.noiseSigma : 1.0);
    std::mt19937_64 garbage(options.noiseSeed ^ 0x5A5A5A5Aull);
    const size_t blockSamples = static_cast<size_t>(width) * static_cast<size_t>(height + 1);

    for (size_t f = 0; f < ranges.size(); ++f) {
        // The modulation frequency whose unambiguous range c / (2 f) is ranges[f].
        const double frequencyHz = kSpeedOfLight / (2.0 * ranges[f] * 1e-3);
        for (int k = 0; k < 5; ++k) {
            const size_t block = f * 5 + static_cast<size_t>(k);
            const size_t base = block * blockSamples;
            putSample(frame, base + 0, static_cast<unsigned>(k), options.dirtyHighBits, garbage);
            putSample(frame, base + 1, static_cast<unsigned>(f), options.dirtyHighBits, garbage);
            putSample(frame, base + 2, static_cast<unsigned>(ranges[f]), options.dirtyHighBits,
                      garbage);
            putSample(frame, base + 3, options.frameCounter & 0x0FFF, options.dirtyHighBits,
                      garbage);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    double value;
                    if (k == 4) {
                        value = scene.grey(x, y);
                    } else {
                        const double distanceM = scene.distanceMm(x, y) * 1e-3;
                        const double phi = 4.0 * kPi * frequencyHz * distanceM / kSpeedOfLight;
                        value = scene.offset(x, y) +
                                scene.amplitude(x, y) * std::cos(phi + k * kPi / 2.0);
                        if (options.noiseSigma > 0) value += noise(generator);
                    }
                    const size_t at = base + static_cast<size_t>(width) * (1 + y) + x;
                    putSample(frame, at, toSample(value), options.dirtyHighBits, garbage);
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
    putLe32(out, 1);
    putLe32(out, 32);
    putLe32(out, static_cast<uint32_t>(width));
    putLe32(out, static_cast<uint32_t>(height));
    putLe32(out, 3);
    putLe32(out, 3 * pixels * 4);
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
    if (!file) return false;
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    return writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::string();
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

TemporaryDirectory::TemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quarvel-phase-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) != nullptr) directory = buffer.data();
}

TemporaryDirectory::~TemporaryDirectory() {
    if (directory.empty()) return;
    std::error_code ignored;
    // Make read-only test directories removable again.
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(directory, ignored);
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::string& directory) {
    previous = std::filesystem::current_path().string();
    std::filesystem::current_path(directory);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous, ignored);
}

}  // namespace phase_test
