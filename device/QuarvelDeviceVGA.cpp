// The 640x480 sensor's device: controls, frame geometry and the phase library's lifecycle.
#include "device/QuarvelDeviceVGA.h"

#include <time.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/ComponentFactory.h"
#include "core/UserFiles.h"
#include "device/ConfigFileWriter.h"
#include "sdk/phase/si4c_raw_layout.h"

namespace Quarvel {

namespace {

constexpr const char* kCalibrationFile = "cali.bin";
// The file the phase library reads from the configuration directory.
constexpr const char* kDirectoryConfigFile = "ConfigAlgorithm.json";
constexpr int kSingleFrequencyRangeMm = SI4C_RANGE_SINGLE_MM;
constexpr int kDualFrequencyRangeMm = SI4C_RANGE_DUAL_COMBINED_MM;

// Frame rate the sensor runs at by default, per geometry and mode; 0 where there is none.
int defaultFrameRate(int32_t width, int32_t height, bool singleFrequency) {
    if (width == 640 && height == 480) return singleFrequency ? 41 : 23;
    if (width == 320 && height == 240) return singleFrequency ? 61 : 36;
    return 0;
}

std::string directoryConfigPath(const std::string& directory) {
    return directory + (directory.back() == '/' ? "" : "/") + kDirectoryConfigFile;
}

// A directory the library cannot hang on: missing is fine (the library reads nothing),
// but a name that is not a directory, or a configuration file in it that is not a
// regular file, is refused.
bool configDirectoryUsable(const std::string& directory) {
    const UserPathStatus kind = checkUserDirectory(directory.c_str());
    if (kind == UserPathStatus::Missing) return true;
    if (kind != UserPathStatus::Ok) return false;
    const UserPathStatus file = checkUserFile(directoryConfigPath(directory).c_str());
    return file == UserPathStatus::Ok || file == UserPathStatus::Missing;
}

}  // namespace

std::unique_ptr<QuarvelDevice> createVgaDevice(int boardModel) {
    return std::make_unique<QuarvelDeviceVGA>(boardModel, QuarvelDeviceVGA::kDefaultWidth,
                                              QuarvelDeviceVGA::kDefaultHeight);
}

void sleepResumingAfterSignals(std::chrono::milliseconds duration) {
    struct timespec remaining;
    remaining.tv_sec = static_cast<time_t>(duration.count() / 1000);
    remaining.tv_nsec = static_cast<long>(duration.count() % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

QuarvelDeviceVGA::QuarvelDeviceVGA(int32_t board, int32_t frameWidth, int32_t frameHeight)
    : QuarvelDeviceVGA(board, frameWidth, frameHeight, si4cLibrary(), &sleepResumingAfterSignals) {}

QuarvelDeviceVGA::QuarvelDeviceVGA(int32_t board, int32_t frameWidth, int32_t frameHeight,
                                   PhaseLibrary& phaseLibrary, Pause closePause)
    : QuarvelDevice(board),
      width(frameWidth),
      height(frameHeight),
      library(&phaseLibrary),
      pause(std::move(closePause)) {}

QuarvelDeviceVGA::~QuarvelDeviceVGA() {
    // The camera closes before it destroys; this only catches a device dropped unclosed.
    if (sdkHandle != nullptr) destroyInstance();
}

bool QuarvelDeviceVGA::singleFrequency() { return library->isSingleFreq(sdkHandle) != 0; }

void QuarvelDeviceVGA::destroyInstance() {
    library->destroy(&sdkHandle);
    sdkHandle = nullptr;
    // Only now can no instance point into the copies any more.
    calibration.releaseAll();
}

QuarvelDeviceVGA::Geometry QuarvelDeviceVGA::currentGeometry() {
    const int32_t blocks =
        singleFrequency() ? SI4C_BLOCKS_SINGLE_FREQUENCY : SI4C_BLOCKS_DUAL_FREQUENCY;
    return {width, height, blocks};
}

QuarvelDeviceVGA::Geometry QuarvelDeviceVGA::effectiveGeometry() {
    return streamPrepared ? stream : currentGeometry();
}

int QuarvelDeviceVGA::getDeviceType() { return VGA; }

int QuarvelDeviceVGA::getFrameFormats(FrameLayout* raw, FrameLayout* output) {
    const Geometry geometry = effectiveGeometry();
    if (raw) {
        raw->unit = 2;
        raw->width = geometry.width;
        raw->height = geometry.rawLines();
    }
    if (output) {
        output->width = geometry.width;
        output->height = geometry.height;
    }
    return QuarvelSuccess;
}

int QuarvelDeviceVGA::open(QuarvelTOFSensor* boundSensor) {
    if (boundSensor == nullptr) return QuarvelInvalidParameter;
    sensor = boundSensor;
    // The Jetson video input moves CSI samples to the top of their words; a USB camera's
    // samples arrive as the sensor produced them, on any board.
    const bool csi = sensor->getCameraInfo().connect == Connection::CSI;
    rawShift = boardModel == BOARD_JETSON && csi ? 4u : 0u;
    if (sdkHandle != nullptr) destroyInstance();
    opened = true;
    return library->create(&sdkHandle) ? QuarvelSuccess : QuarvelUnkownError;
}

int QuarvelDeviceVGA::close() {
    // The camera's destructor closes an opened camera again: that must cost nothing.
    if (!opened) return QuarvelSuccess;
    opened = false;
    streamPrepared = false;
    pause(kClosePause);
    destroyInstance();
    return QuarvelSuccess;
}

int QuarvelDeviceVGA::prepare() {
    stream = currentGeometry();
    streamPrepared = true;
    // Allocated with the stream, never per frame.
    if (rawShift != 0) {
        alignedRaw.assign(static_cast<size_t>(stream.width) * static_cast<size_t>(stream.rawLines()),
                          0);
    }
    if (sensor) {
        sensor->setControl(CameraCtrl::FMT_WIDTH, stream.width);
        sensor->setControl(CameraCtrl::FMT_HEIGHT, stream.rawLines());
    }
    return QuarvelSuccess;
}

int QuarvelDeviceVGA::start() {
    if (!configDir.empty() && !configDirectoryUsable(configDir)) return QuarvelUnkownError;
    if (!writeDefaultConfigFiles()) return QuarvelUnkownError;
    const Geometry geometry = effectiveGeometry();
    if (!library->init(sdkHandle, geometry.width, geometry.height)) {
        destroyInstance();
        return QuarvelUnkownError;
    }
    const CalibrationCopies::View calibrationBytes = calibration.load(kCalibrationFile);
    if (calibrationBytes.data != nullptr) {
        library->setCaliData(sdkHandle, calibrationBytes.data, calibrationBytes.size);
    }
    if (!configDir.empty()) library->setConfig(sdkHandle, configDir.c_str());
    if (!library->start(sdkHandle)) {
        destroyInstance();
        return QuarvelUnkownError;
    }
    return QuarvelSuccess;
}

int QuarvelDeviceVGA::stop() {
    streamPrepared = false;
    return QuarvelSuccess;
}

int QuarvelDeviceVGA::setControl(CameraCtrl ctrl, int value) {
    switch (ctrl) {
        case CameraCtrl::FMT_WIDTH:
            if (value != 320 && value != 640) return QuarvelInvalidParameter;
            width = value;
            return QuarvelSuccess;
        case CameraCtrl::FMT_HEIGHT:
            if (value != 240 && value != 480) return QuarvelInvalidParameter;
            height = value;
            return QuarvelSuccess;
        case CameraCtrl::MODE:
            if (value == static_cast<int>(TofWorkMode::SINGLE_FREQ)) {
                library->setSingleFreq(sdkHandle, true);
                return QuarvelSuccess;
            }
            if (value == static_cast<int>(TofWorkMode::DOUBLE_FREQ)) {
                library->setSingleFreq(sdkHandle, false);
                return QuarvelSuccess;
            }
            return QuarvelInvalidParameter;
        case CameraCtrl::FRAME_MODE:
            return QuarvelNotImplemented;
        case CameraCtrl::FRAME_RATE: {
            if (sensor == nullptr) return QuarvelUnkownError;
            const int result = sensor->setControl(CameraCtrl::FRAME_RATE, value);
            if (result != QuarvelSuccess) return result;
            frameRateSet = true;
            return QuarvelSuccess;
        }
        default:  // RANGE, EXPOSURE and everything else
            return QuarvelInvalidParameter;
    }
}

int QuarvelDeviceVGA::setControlExt(CameraCtrl ctrl, const char* value) {
    if (ctrl != CameraCtrl::CONFIG_DIR_EXT || value == nullptr) return QuarvelInvalidParameter;
    const size_t length = ::strnlen(value, kMaxUserPathBytes + 1);
    if (length > 0 && directoryConfigPath(std::string(value, length)).size() > kMaxUserPathBytes) {
        return QuarvelInvalidParameter;
    }
    configDir.assign(value, length);
    return QuarvelSuccess;
}

int QuarvelDeviceVGA::getControl(CameraCtrl ctrl, int* value) {
    if (value == nullptr) return QuarvelInvalidParameter;
    switch (ctrl) {
        case CameraCtrl::RANGE:
            *value = singleFrequency() ? kSingleFrequencyRangeMm : kDualFrequencyRangeMm;
            return QuarvelSuccess;
        case CameraCtrl::FMT_WIDTH:
            *value = width;
            return QuarvelSuccess;
        case CameraCtrl::FMT_HEIGHT:
            *value = height;
            return QuarvelSuccess;
        case CameraCtrl::MODE:
            *value = static_cast<int>(singleFrequency() ? TofWorkMode::SINGLE_FREQ
                                                        : TofWorkMode::DOUBLE_FREQ);
            return QuarvelSuccess;
        case CameraCtrl::FRAME_MODE:
            return QuarvelNotImplemented;
        case CameraCtrl::FRAME_RATE: {
            if (frameRateSet) {
                return sensor ? sensor->getControl(CameraCtrl::FRAME_RATE, value)
                              : QuarvelUnkownError;
            }
            const int rate = defaultFrameRate(width, height, singleFrequency());
            if (rate == 0) return QuarvelInvalidParameter;
            *value = rate;
            return QuarvelSuccess;
        }
        default:  // EXPOSURE and everything the sensor may know
            return sensor ? sensor->getControl(ctrl, value) : QuarvelUnkownError;
    }
}

int QuarvelDeviceVGA::getControlExt(CameraCtrl ctrl, const char** value) {
    if (ctrl != CameraCtrl::CONFIG_DIR_EXT || value == nullptr) return QuarvelInvalidParameter;
    *value = configDir.c_str();
    return QuarvelSuccess;
}

bool QuarvelDeviceVGA::getRawImages(const uint8_t* raw, int16_t* rawPlane) {
    if (raw == nullptr || rawPlane == nullptr) return false;
    // The RAW plane and the sensor's frame were sized from this same geometry at start.
    const Geometry geometry = effectiveGeometry();
    const size_t bytes = static_cast<size_t>(geometry.width) *
                         static_cast<size_t>(geometry.rawLines()) * sizeof(int16_t);
    std::memcpy(rawPlane, raw, bytes);
    return true;
}

bool QuarvelDeviceVGA::getPhaseImage(const uint8_t* raw, float* depth, float* amplitude,
                                     float* confidence) {
    if (rawShift == 0) return library->getPhaseImage(sdkHandle, raw, depth, amplitude, confidence);
    if (raw == nullptr) return false;
    const Geometry geometry = effectiveGeometry();
    const size_t samples =
        static_cast<size_t>(geometry.width) * static_cast<size_t>(geometry.rawLines());
    if (samples > alignedRaw.size()) return false;
    for (size_t i = 0; i < samples; ++i) {
        const auto word = static_cast<uint16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
        alignedRaw[i] = static_cast<uint16_t>(word >> rawShift);
    }
    return library->getPhaseImage(sdkHandle, reinterpret_cast<const uint8_t*>(alignedRaw.data()),
                                  depth, amplitude, confidence);
}

}  // namespace Quarvel
