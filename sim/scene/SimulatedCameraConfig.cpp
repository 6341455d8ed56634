// Reading and checking the simulated camera's text description.
#include "sim/scene/SimulatedCameraConfig.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include "core/UserFiles.h"

namespace Quarvel {
namespace sim {

namespace {

// Descriptions are a few hundred bytes; this leaves room for comments.
constexpr size_t kMaxDescriptionBytes = 64 * 1024;
// A path as far as a message shows it: control bytes and bytes outside ASCII escaped (a
// name need not be UTF-8), at most 200 characters.
std::string printable(const std::string& path) {
    constexpr size_t kShown = 200;
    std::string shown;
    for (size_t i = 0; i < path.size() && i < kShown; ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (byte >= 0x20 && byte < 0x7f) {
            shown += static_cast<char>(byte);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        }
    }
    if (path.size() > kShown) shown += "...";
    return shown;
}

std::string trim(const std::string& text) {
    const char* space = " \t\r\n";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool parseNumber(const std::string& text, double low, double high, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size()) return false;
    if (!(value >= low && value <= high)) return false;
    out = value;
    return true;
}

bool parseUnsigned(const std::string& text, uint64_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end != text.c_str() + text.size()) return false;
    out = value;
    return true;
}

}  // namespace

bool SimulatedCameraConfig::parse(const std::string& text, SimulatedCameraConfig& out,
                                  std::string& error) {
    SimulatedCameraConfig config;
    std::set<std::string> seen;
    std::istringstream lines(text);
    std::string raw;
    int number = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(lines, raw)) {
        ++number;
        const std::string line = trim(raw.substr(0, raw.find('#')));
        if (line.empty()) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) return fail("expected 'key = value', got '" + line + "'");
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        if (!seen.insert(key).second) return fail("'" + key + "' given twice");

        double number_value = 0;
        uint64_t unsigned_value = 0;
        if (key == "sensor") {
            if (value == "hqvga")
                config.sensor = SensorModel::Hqvga;
            else if (value == "vga")
                config.sensor = SensorModel::Vga;
            else
                return fail("sensor must be hqvga or vga, got '" + value + "'");
        } else if (key == "vga_frequency") {
            if (value == "single")
                config.vgaFrequency = VgaFrequencyMode::Single;
            else if (value == "dual")
                config.vgaFrequency = VgaFrequencyMode::Dual;
            else
                return fail("vga_frequency must be single or dual, got '" + value + "'");
        } else if (key == "scene") {
            if (value == "standard")
                config.scene = SceneKind::Standard;
            else if (value == "near")
                config.scene = SceneKind::Near;
            else if (value == "wall")
                config.scene = SceneKind::Wall;
            else
                return fail("scene must be standard, near or wall, got '" + value + "'");
        } else if (key == "wall_distance_mm") {
            if (!parseNumber(value, 100.0, 10000.0, number_value)) {
                return fail("wall_distance_mm must be a number from 100 to 10000, got '" + value +
                            "'");
            }
            config.wallDistanceMm = number_value;
        } else if (key == "fps") {
            if (!parseNumber(value, 1.0, kMaxFramesPerSecond, number_value)) {
                return fail("fps must be a number from 1 to 60, got '" + value + "'");
            }
            config.framesPerSecond = number_value;
        } else if (key == "bit_width") {
            if (value == "8" || value == "10" || value == "12" || value == "14") {
                config.bitWidth = std::atoi(value.c_str());
            } else {
                return fail("bit_width must be 8, 10, 12 or 14, got '" + value + "'");
            }
        } else if (key == "noise") {
            if (value == "on")
                config.noise = true;
            else if (value == "off")
                config.noise = false;
            else
                return fail("noise must be on or off, got '" + value + "'");
        } else if (key == "mixed_pixels") {
            if (value == "on")
                config.mixedPixels = true;
            else if (value == "off")
                config.mixedPixels = false;
            else
                return fail("mixed_pixels must be on or off, got '" + value + "'");
        } else if (key == "seed") {
            if (!parseUnsigned(value, unsigned_value)) {
                return fail("seed must be an unsigned integer, got '" + value + "'");
            }
            config.seed = unsigned_value;
        } else if (key == "signal") {
            if (!parseNumber(value, 0.0, 100.0, number_value)) {
                return fail("signal must be a factor from 0 to 100, got '" + value + "'");
            }
            config.signalScale = number_value;
        } else if (key == "ambient") {
            if (!parseNumber(value, 0.0, 100.0, number_value)) {
                return fail("ambient must be a factor from 0 to 100, got '" + value + "'");
            }
            config.ambientScale = number_value;
        } else if (key == "pacing") {
            if (value == "realtime") {
                config.unthrottled = false;
            } else if (value == "unthrottled") {
                config.unthrottled = true;
            } else if (value == "replay") {
                config.unthrottled = true;
                config.replay = true;
            } else {
                return fail("pacing must be realtime, unthrottled or replay, got '" + value + "'");
            }
        } else {
            return fail("unknown key '" + key + "'");
        }
    }
    out = config;
    return true;
}

bool SimulatedCameraConfig::load(const std::string& path, SimulatedCameraConfig& out,
                                 std::string& error) {
    std::string content;
    // A description is a few lines; the reader refuses FIFOs, devices and directories
    // without waiting, and anything beyond the limit without reading it.
    const UserPathStatus read = readUserFile(path.c_str(), kMaxDescriptionBytes, content);
    if (read != UserPathStatus::Ok) {
        error = "cannot read '" + printable(path) + "': " + describe(read);
        return false;
    }
    std::string reason;
    if (!parse(content, out, reason)) {
        error = printable(path) + ": " + reason;
        return false;
    }
    return true;
}

Scene SimulatedCameraConfig::makeScene() const { return Scene::of(scene, seed, wallDistanceMm); }

CameraGeometry SimulatedCameraConfig::imageGeometry() const {
    CameraGeometry geometry;
    if (sensor == SensorModel::Vga) {
        geometry.width = 640;
        geometry.height = 480;
    }
    if (mixedPixels) geometry.subpixelSamples = 4;
    return geometry;
}

HqvgaSensorParams SimulatedCameraConfig::hqvgaParams() const {
    HqvgaSensorParams params;
    params.signalLsb *= signalScale;
    params.ambientLsb *= ambientScale;
    params.noise.enabled = noise;
    params.noise.seed = seed;
    return params;
}

VgaSensorParams SimulatedCameraConfig::vgaParams() const {
    VgaSensorParams params;
    params.signalLsb *= signalScale;
    params.ambientLsb *= ambientScale;
    params.noise.enabled = noise;
    params.noise.seed = seed;
    return params;
}

FrameTiming SimulatedCameraConfig::timing() const {
    FrameTiming timing;
    timing.framesPerSecond = framesPerSecond;
    timing.subframesPerFrame = sensor == SensorModel::Hqvga ? HqvgaRawSynthesis::kSubframes : 1;
    timing.unthrottled = unthrottled;
    return timing;
}

int SimulatedCameraConfig::reportedWidth() const { return imageGeometry().width; }

int SimulatedCameraConfig::reportedHeight() const {
    if (sensor == SensorModel::Hqvga) return HqvgaRawSynthesis::kHeight;
    const int blocks = VgaRawSynthesis::blocks(vgaFrequency);
    return (imageGeometry().height + 1) * blocks;
}

}  // namespace sim
}  // namespace Quarvel
