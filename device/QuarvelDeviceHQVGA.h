// Processing device of the 240x180 sensor: computes depth from four phase sub-frames.
#pragma once

#include <cstdint>

#include "core/QuarvelDevice.h"
#include "core/ThreadSafety.h"

namespace Quarvel {

class QuarvelDeviceHQVGA : public QuarvelDevice {
public:
    QuarvelDeviceHQVGA(int32_t board, float frequency, int32_t rangeMm, uint8_t shift);

    int getDeviceType() override;
    int getFrameFormats(FrameLayout* raw, FrameLayout* output) override;
    int open(QuarvelTOFSensor* sensor) override;
    int close() override;
    int prepare() override;
    int start() override;
    int stop() override;
    // RANGE 2000/4000 also switch the sensor's modulation, so both always agree.
    int setControl(CameraCtrl ctrl, int value) EXCLUDES(rangeSettingMutex) override;
    int setControlExt(CameraCtrl ctrl, const char* value) override;
    int getControl(CameraCtrl ctrl, int* value) override;
    int getControlExt(CameraCtrl ctrl, const char** value) override;
    bool getRawImages(const uint8_t* raw, int16_t* rawPlane) override;
    bool getPhaseImage(const uint8_t* raw, float* depth, float* amplitude,
                       float* confidence) override;

    // The range and its frequency as one frame uses them. Thread-safe.
    struct RangeSetting {
        int32_t range;
        float modulationFrequency;
    };
    RangeSetting rangeSetting() EXCLUDES(rangeSettingMutex);

    const uint8_t rawShift;

private:
    // Written by control calls, read once per frame by the capture thread: a frame must
    // never pair one range with the other range's frequency.
    Mutex rangeSettingMutex;  // guards modulationFrequency and range
    float modulationFrequency GUARDED_BY(rangeSettingMutex);
    int32_t range GUARDED_BY(rangeSettingMutex);
};

}  // namespace Quarvel
