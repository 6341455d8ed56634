// Shared vocabulary of the camera: enums, records and error texts.
#pragma once

#include <cstdint>

namespace Quarvel {

// What a frame or a plane holds. Only RAW and DEPTH are stream output types.
enum class FrameType : int32_t {
    RAW = 0,
    CONFIDENCE = 1,
    DEPTH = 2,
    AMPLITUDE = 3,
    CACHE = 4,
};

enum class Connection : int32_t {
    CSI = 0,
    USB = 1,
};

// Plain enum on purpose: its members convert implicitly to integers.
enum DeviceType : uint32_t {
    VGA = 0,
    HQVGA = 1,
};

// Control identifiers. Not dense (CONFIG_DIR_EXT is 256): never index a table by them.
enum class CameraCtrl : int32_t {
    RANGE = 0,
    FMT_WIDTH = 1,
    FMT_HEIGHT = 2,
    MODE = 3,
    FRAME_MODE = 4,
    EXPOSURE = 5,
    FRAME_RATE = 6,
    SKIP_FRAME = 7,
    SKIP_FRAME_LOOP = 8,
    AUTO_FRAME_RATE = 9,
    CONFIG_DIR_EXT = 256,
};

enum class TofWorkMode : int32_t {
    SINGLE_FREQ = 0,
    DOUBLE_FREQ = 1,
    TRIPLE_FREQ = 2,
    QUAD_FREQ = 3,
    DISTANCE = 4,
    HDR = 5,
    AE = 6,
    BG_OUTDOOR = 7,
    GRAY_ONLY = 8,
    CUSTOM1 = 9,
    CUSTOM2 = 10,
    CUSTOM3 = 11,
};

enum class TofFrameWorkMode : int32_t {
    SINGLE_FREQ_2PHASE = 0,
    SINGLE_FREQ_4PHASE = 1,
    SINGLE_FREQ_4PHASE_GRAY = 2,
    SINGLE_FREQ_4PHASE_BG = 3,
    SINGLE_FREQ_4PHASE_4BG = 4,
    SINGLE_FREQ_4PHASE_GRAY_5BG = 5,
    SINGLE_FREQ_GRAY_BG_4PHASE_GRAY_BG = 6,
    SINGLE_FREQ_GRAY_BG_4PHASE_BG = 7,
    SINGLE_FREQ_BG_GRAY_BG_4PHASE = 8,
    SINGLE_FREQ_BG_4PHASE_BG_GRAY = 9,
    DOUBLE_FREQ_4PHASE = 10,
    DOUBLE_FREQ_4PHASE_GRAY_4PHASE_BG = 11,
    DOUBLE_FREQ_4PHASE_4BG = 12,
    DOUBLE_FREQ_4PHASE_GRAY_5BG = 13,
    TRIPLE_FREQ_4PHASE = 14,
    TRIPLE_FREQ_4PHASE_GRAY_4PHASE_GRAY_4PHASE_BG = 15,
    QUAD_FREQ_4PHASE = 16,
    QUAD_FREQ_4PHASE_GRAY_4PHASE_BG_4PHASE_GRAY_4PHASE_BG = 17,
    BG_OUTDOOR = 18,
    GRAY_ONLY = 19,
    CUSTOM = 20,
};

// Result codes. Not dense: 240 follows 4. Sensors and devices may return other values.
enum TofErrorCode : int32_t {
    QuarvelSuccess = 0,
    QuarvelInvalidParameter = 1,
    QuarvelNoCache = 2,
    QuarvelUnkownDevice = 3,
    QuarvelNotImplemented = 4,
    QuarvelSkipFrame = 240,
    QuarvelSystemError = -2,
    QuarvelUnkownError = -1,
};

// Board found by the device-tree probe; stored and passed as a plain int.
enum BoardModel : int32_t {
    BOARD_UNKNOWN = 0,
    BOARD_JETSON_NANO = 2,
    BOARD_JETSON = 3,
    BOARD_RASPBERRY_PI = 5,
    BOARD_RASPBERRY_PI_5 = 6,
    BOARD_RADXA_ROCK = 7,
};

struct CameraInfo {
    uint32_t index;
    Connection connect;
    DeviceType device_type;
    FrameType type;
    uint32_t width;      // pixels per line as the sensor delivers it
    uint32_t height;     // lines of one sub-frame as the sensor delivers it
    uint32_t bit_width;  // significant bits per raw sample
    uint32_t bpp;        // bytes per raw sample: 1 up to 8 bits, else 2
};

struct FrameDataFormat {
    uint32_t width;
    uint32_t height;
    FrameType type;
    uint64_t timestamp;  // capture time as delivered by the sensor
};

// Shape of one kind of output as a device reports it. `unit` is copied, never interpreted.
struct FrameLayout {
    int32_t unit;
    int32_t width;
    int32_t height;
};

// Static text for a result code; "Unknown error" for any value without a text. Thread-safe.
const char* to_str(TofErrorCode code);

}  // namespace Quarvel
