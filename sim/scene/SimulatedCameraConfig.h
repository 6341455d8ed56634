// Description of one simulated camera, and the text format it is read from.
#pragma once

#include <cstdint>
#include <string>

#include "sim/scene/FramePacer.h"
#include "sim/scene/HqvgaRawSynthesis.h"
#include "sim/scene/Scene.h"
#include "sim/scene/VgaRawSynthesis.h"

namespace Quarvel {
namespace sim {

enum class SensorModel {
    Hqvga,  // 240x180, four sub-frames per depth frame
    Vga,    // 640x480, one whole raw frame of 5 or 10 blocks
};

// Defaults describe the camera a user without hardware gets: the 240x180 sensor looking
// at the standard scene at 30 frames per second with noise.
struct SimulatedCameraConfig {
    SensorModel sensor = SensorModel::Hqvga;
    VgaFrequencyMode vgaFrequency = VgaFrequencyMode::Single;
    SceneKind scene = SceneKind::Standard;
    double wallDistanceMm = 1000.0;
    double framesPerSecond = 30.0;
    int bitWidth = 12;  // sample width the camera reports: 8, 10, 12 or 14
    bool noise = true;
    // Pixels on a depth edge see both surfaces and mix their returns (4 x 4 rays a pixel).
    bool mixedPixels = false;
    uint64_t seed = 1;
    double signalScale = 1.0;   // multiplies the sensor's nominal signal
    double ambientScale = 1.0;  // multiplies the nominal ambient light
    bool unthrottled = false;   // deliver as fast as read, timestamps as if paced
    // Unthrottled too, and the camera hands out a few frames synthesised at open in turn
    // instead of synthesising each one (benchmarks of what reads the camera).
    bool replay = false;

    static constexpr double kMaxFramesPerSecond = 60.0;

    // Parses the text format (see docs/simulated-camera.md). On failure returns false,
    // leaves `out` unchanged and puts a one-line reason with its line number in `error`.
    static bool parse(const std::string& text, SimulatedCameraConfig& out, std::string& error);
    // Reads and parses a file; a file that cannot be read is an error too.
    static bool load(const std::string& path, SimulatedCameraConfig& out, std::string& error);

    // What the pieces of the simulation need, derived from this description.
    Scene makeScene() const;
    CameraGeometry imageGeometry() const;  // 240x180 or 640x480, 64 degrees across
    HqvgaSensorParams hqvgaParams() const;
    VgaSensorParams vgaParams() const;
    FrameTiming timing() const;
    // Size of one frame as the camera hands it out: 240x180 per sub-frame, or the whole
    // VGA raw frame (640 x 2405 single, 640 x 4810 dual).
    int reportedWidth() const;
    int reportedHeight() const;
};

}  // namespace sim
}  // namespace Quarvel
