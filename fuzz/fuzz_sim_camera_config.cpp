// The simulated camera's description file: any text is read or refused with a reason, and
// what is read is within the documented ranges and reads back the same when written out.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "fuzz/support/FuzzCheck.h"
#include "sim/scene/SimulatedCameraConfig.h"

using namespace Quarvel::sim;

namespace {

// A description that differs from the defaults in every field, to see a failed parse leave
// its output alone.
SimulatedCameraConfig unusual() {
    SimulatedCameraConfig config;
    config.sensor = SensorModel::Vga;
    config.vgaFrequency = VgaFrequencyMode::Dual;
    config.scene = SceneKind::Wall;
    config.wallDistanceMm = 4321.0;
    config.framesPerSecond = 7.0;
    config.bitWidth = 14;
    config.noise = false;
    config.seed = 99;
    config.signalScale = 3.0;
    config.ambientScale = 4.0;
    config.unthrottled = true;
    config.replay = true;
    config.mixedPixels = true;
    return config;
}

bool same(const SimulatedCameraConfig& a, const SimulatedCameraConfig& b) {
    return a.sensor == b.sensor && a.vgaFrequency == b.vgaFrequency && a.scene == b.scene &&
           a.wallDistanceMm == b.wallDistanceMm && a.framesPerSecond == b.framesPerSecond &&
           a.bitWidth == b.bitWidth && a.noise == b.noise && a.seed == b.seed &&
           a.signalScale == b.signalScale && a.ambientScale == b.ambientScale &&
           a.unthrottled == b.unthrottled && a.replay == b.replay && a.mixedPixels == b.mixedPixels;
}

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// Every field, in the file's own format.
std::string written(const SimulatedCameraConfig& c) {
    std::string text;
    text += std::string("sensor = ") + (c.sensor == SensorModel::Vga ? "vga" : "hqvga") + "\n";
    text += std::string("vga_frequency = ") +
            (c.vgaFrequency == VgaFrequencyMode::Dual ? "dual" : "single") + "\n";
    text += std::string("scene = ") +
            (c.scene == SceneKind::Wall   ? "wall"
             : c.scene == SceneKind::Near ? "near"
                                          : "standard") +
            "\n";
    text += "wall_distance_mm = " + number(c.wallDistanceMm) + "\n";
    text += "fps = " + number(c.framesPerSecond) + "\n";
    text += "bit_width = " + std::to_string(c.bitWidth) + "\n";
    text += std::string("noise = ") + (c.noise ? "on" : "off") + "\n";
    text += "seed = " + std::to_string(c.seed) + "\n";
    text += "signal = " + number(c.signalScale) + "\n";
    text += "ambient = " + number(c.ambientScale) + "\n";
    text += std::string("pacing = ") +
            (c.replay        ? "replay"
             : c.unthrottled ? "unthrottled"
                             : "realtime") +
            "\n";
    text += std::string("mixed_pixels = ") + (c.mixedPixels ? "on" : "off") + "\n";
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    SimulatedCameraConfig config = unusual();
    std::string error;
    if (!SimulatedCameraConfig::parse(text, config, error)) {
        FUZZ_CHECK(same(config, unusual()));
        FUZZ_CHECK(error.compare(0, 5, "line ") == 0);
        FUZZ_CHECK(error.find('\n') == std::string::npos);  // one line
        return 0;
    }
    FUZZ_CHECK(config.wallDistanceMm >= 100.0 && config.wallDistanceMm <= 10000.0);
    FUZZ_CHECK(config.framesPerSecond >= 1.0 &&
               config.framesPerSecond <= SimulatedCameraConfig::kMaxFramesPerSecond);
    FUZZ_CHECK(config.bitWidth == 8 || config.bitWidth == 10 || config.bitWidth == 12 ||
               config.bitWidth == 14);
    FUZZ_CHECK(config.signalScale >= 0.0 && config.signalScale <= 100.0);
    FUZZ_CHECK(config.ambientScale >= 0.0 && config.ambientScale <= 100.0);
    FUZZ_CHECK(!config.replay || config.unthrottled);
    FUZZ_CHECK(config.reportedWidth() > 0 && config.reportedHeight() > 0);

    SimulatedCameraConfig again = unusual();
    FUZZ_CHECK(SimulatedCameraConfig::parse(written(config), again, error));
    FUZZ_CHECK(same(config, again));
    return 0;
}
