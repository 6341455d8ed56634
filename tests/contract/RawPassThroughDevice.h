// A processing device that hands the sensor's frame on unchanged as the RAW plane.
#pragma once

#include "core/QuarvelDevice.h"

namespace Quarvel {
namespace contract {

// Lets the camera stream whatever size a test driver negotiated: the RAW layout is the
// sensor's own frame (one sub-frame of 16-bit samples), and RAW frames are a plain copy of
// it. Depth is not offered. Thread contract: as any device, per-frame calls on the capture
// thread, the rest on the caller's.
class RawPassThroughDevice final : public QuarvelDevice {
public:
    explicit RawPassThroughDevice(int32_t board) : QuarvelDevice(board) {}

    int getDeviceType() override { return VGA; }
    int getFrameFormats(FrameLayout* raw, FrameLayout* output) override;
    int open(QuarvelTOFSensor* boundSensor) override;
    int close() override { return QuarvelSuccess; }
    int prepare() override { return QuarvelSuccess; }
    int start() override { return QuarvelSuccess; }
    int stop() override { return QuarvelSuccess; }
    int setControl(CameraCtrl, int) override { return QuarvelNotImplemented; }
    int setControlExt(CameraCtrl, const char*) override { return QuarvelNotImplemented; }
    int getControl(CameraCtrl, int*) override { return QuarvelNotImplemented; }
    int getControlExt(CameraCtrl, const char**) override { return QuarvelNotImplemented; }
    bool getRawImages(const uint8_t* raw, int16_t* rawPlane) override;
    bool getPhaseImage(const uint8_t*, float*, float*, float*) override { return false; }
};

}  // namespace contract
}  // namespace Quarvel
