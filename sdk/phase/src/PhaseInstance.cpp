// Instance lifecycle: init loads the defaults, start fixes everything for the stream.
#include "sdk/phase/src/PhaseInstance.h"

#include <string>

#include "sdk/phase/si4c_calibration_format.h"
#include "sdk/phase/si4c_raw_layout.h"
#include "sdk/phase/src/CalibrationData.h"

namespace si4c {

bool PhaseInstance::init(int imageWidth, int imageHeight) {
    started = false;
    // The embedded line must hold its fields.
    if (imageWidth <= SI4C_EMBEDDED_FRAME_COUNTER || imageWidth > kMaxDimension ||
        imageHeight <= 0 || imageHeight > kMaxDimension) {
        initialised = false;
        return false;
    }
    width = imageWidth;
    height = imageHeight;
    params = AlgorithmParams();
    applyAlgorithmFile(kAlgorithmFileName, params);
    calibration.assign(static_cast<size_t>(SI4C_CALIBRATION_TABLES) * width * height, 0.0f);
    hasCalibration = false;
    initialised = true;
    return true;
}

bool PhaseInstance::setCalibration(const uint8_t* data, size_t length) {
    if (!initialised) return false;
    if (!decodeCalibration(data, length, width, height, calibration.data(), calibration.size())) {
        return false;
    }
    hasCalibration = true;
    return true;
}

bool PhaseInstance::setConfigDirectory(const char* directory) {
    if (!initialised || directory == nullptr || directory[0] == '\0') return false;
    std::string path(directory);
    if (path.back() != '/') path += '/';
    path += kAlgorithmFileName;
    return applyAlgorithmFile(path, params);
}

bool PhaseInstance::start() {
    if (!initialised) return false;
    StreamSetup setup;
    setup.width = width;
    setup.height = height;
    setup.singleFrequency = singleFrequencyRequested.load();
    setup.params = params;
    setup.calibration = hasCalibration ? calibration.data() : nullptr;
    pipeline.configure(setup);
    started = true;
    return true;
}

bool PhaseInstance::process(const uint8_t* raw, float* depth, float* amplitude, float* confidence) {
    if (!started || raw == nullptr || depth == nullptr || amplitude == nullptr ||
        confidence == nullptr) {
        return false;
    }
    return pipeline.process(raw, depth, amplitude, confidence);
}

}  // namespace si4c
