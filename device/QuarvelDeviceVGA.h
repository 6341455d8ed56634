// Processing device of the 640x480 sensor: drives the phase library, owns the frame geometry.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/QuarvelDevice.h"
#include "device/CalibrationCopies.h"
#include "device/PhaseLibrary.h"

namespace Quarvel {

// Raw frame: n blocks of (height + 1) lines of width samples, n = 5 in single- and 10 in
// dual-frequency mode; planes: width x height floats. The phase library keeps the
// frequency mode; the device asks it whenever it needs the mode.
//
// Thread contract: getRawImages/getPhaseImage on the capture thread; everything else on
// the caller's thread (control calls serialised by the camera). A MODE or format change
// while streaming shows in the controls at once and reaches the frames at the next start:
// prepare() fixes the stream's geometry, which getFrameFormats and getRawImages use until
// stop() or close().
class QuarvelDeviceVGA : public QuarvelDevice {
public:
    using Pause = std::function<void(std::chrono::milliseconds)>;

    static constexpr int32_t kDefaultWidth = 640;
    static constexpr int32_t kDefaultHeight = 480;
    static constexpr std::chrono::milliseconds kClosePause{500};

    // The camera's device: the linked phase library and a real pause at close.
    QuarvelDeviceVGA(int32_t board, int32_t frameWidth, int32_t frameHeight);
    // `library` must outlive the device; `pause` replaces the sleep of close().
    QuarvelDeviceVGA(int32_t board, int32_t frameWidth, int32_t frameHeight, PhaseLibrary& library,
                     Pause pause);
    // Destroys a library instance that close() did not (no pause).
    ~QuarvelDeviceVGA() override;
    QuarvelDeviceVGA(const QuarvelDeviceVGA&) = delete;
    QuarvelDeviceVGA& operator=(const QuarvelDeviceVGA&) = delete;

    int getDeviceType() override;
    int getFrameFormats(FrameLayout* raw, FrameLayout* output) override;
    // 1 for a null sensor; otherwise creates the library instance: 0, or -1 when refused.
    int open(QuarvelTOFSensor* sensor) override;
    // First call after open: pauses 500 ms, destroys the library instance, then releases
    // the calibration mappings it received. Later calls do nothing. Always 0.
    int close() override;
    // Fixes the stream geometry and sets the sensor's frame size to it. Always 0.
    int prepare() override;
    // Writes the default configuration files, initialises the library, hands it a copy of
    // "cali.bin" and the configuration directory, starts it. 0, or -1 (after a refused init
    // or start the library instance is destroyed). A configuration directory that names
    // something other than a directory, or whose "ConfigAlgorithm.json" is not a regular
    // file (a FIFO would block the library's read), gives -1 before anything is written.
    int start() override;
    int stop() override;
    int setControl(CameraCtrl ctrl, int value) override;
    // CONFIG_DIR_EXT: a text too long to name the directory's configuration file is
    // invalid (1) and leaves configDir unchanged; the empty text clears it.
    int setControlExt(CameraCtrl ctrl, const char* value) override;
    int getControl(CameraCtrl ctrl, int* value) override;
    // The text stays valid until configDir next changes or the device is destroyed.
    int getControlExt(CameraCtrl ctrl, const char** value) override;
    // Copies the whole raw frame of the stream's geometry, unchanged.
    bool getRawImages(const uint8_t* raw, int16_t* rawPlane) override;
    // Hands the raw frame to the library as the sensor produced it: on BOARD_JETSON (whose
    // video input delivers samples MSB-aligned in their 16-bit words) each sample is first
    // shifted down by 4 bits into a buffer sized by prepare(). False when the library fails,
    // or when a shift is needed and no stream of this geometry was prepared.
    bool getPhaseImage(const uint8_t* raw, float* depth, float* amplitude,
                       float* confidence) override;

    // Library instance: null before open, after close and after a refused init or start.
    SiSDKHandle sdkHandle = nullptr;
    std::string configDir;
    int32_t width;   // 320 or 640
    int32_t height;  // 240 or 480
    // True once the sensor accepted a FRAME_RATE value; never cleared.
    bool frameRateSet = false;

    struct Geometry {
        int32_t width;
        int32_t height;
        int32_t blocks;  // 5 single frequency, 10 dual frequency
        int32_t rawLines() const { return (height + 1) * blocks; }
    };
    // The geometry the library's current mode and the fields give now.
    Geometry currentGeometry();
    // The stream's geometry while one is prepared, else the current one.
    Geometry effectiveGeometry();
    // Calibration copies held for the current library instance.
    size_t calibrationCopies() const { return calibration.count(); }

private:
    bool singleFrequency();
    void destroyInstance();

    PhaseLibrary* library;
    Pause pause;
    bool opened = false;
    bool streamPrepared = false;
    Geometry stream{0, 0, 0};
    CalibrationCopies calibration;
    // Bits the board's video input moves each sample up (4 for CSI on BOARD_JETSON, else 0), and
    // the stream's raw frame with them taken out again; sized by prepare(), written and
    // read only on the capture thread afterwards.
    unsigned rawShift = 0;
    std::vector<uint16_t> alignedRaw;
};

// Sleeps for `duration`, resuming after a signal for the time that remained.
void sleepResumingAfterSignals(std::chrono::milliseconds duration);

}  // namespace Quarvel
