// The processing device contract: turns one raw frame into the planes the user receives.
#pragma once

#include <cstdint>

#include "core/QuarvelTOFSensor.h"
#include "core/Types.h"

namespace Quarvel {

// Thread contract: getRawImages/getPhaseImage run on the capture thread; the rest on the
// caller's thread. Control calls reach the device from both threads, but the camera
// serialises them. close() must be harmless when called again.
class QuarvelDevice {
public:
    explicit QuarvelDevice(int32_t board) : boardModel(static_cast<BoardModel>(board)) {}
    virtual ~QuarvelDevice() = default;

    virtual int getDeviceType() = 0;
    // Fills the raw layout and the output layout; the camera ignores the result.
    virtual int getFrameFormats(FrameLayout* raw, FrameLayout* output) = 0;
    // Binds the device to the sensor (not owned); 0 on success.
    virtual int open(QuarvelTOFSensor* sensor) = 0;
    virtual int close() = 0;
    // Configures the sensor for this device's raw frame, before the sensor starts.
    virtual int prepare() = 0;
    virtual int start() = 0;
    virtual int stop() = 0;
    virtual int setControl(CameraCtrl ctrl, int value) = 0;
    virtual int setControlExt(CameraCtrl ctrl, const char* value) = 0;
    // Writes *value only on success.
    virtual int getControl(CameraCtrl ctrl, int* value) = 0;
    virtual int getControlExt(CameraCtrl ctrl, const char** value) = 0;
    // raw: the frame just read into the pool's cache; rawPlane: the RAW plane of the buffer.
    virtual bool getRawImages(const uint8_t* raw, int16_t* rawPlane) = 0;
    virtual bool getPhaseImage(const uint8_t* raw, float* depth, float* amplitude,
                               float* confidence) = 0;

    BoardModel boardModel;
    QuarvelTOFSensor* sensor = nullptr;  // not owned
};

}  // namespace Quarvel
