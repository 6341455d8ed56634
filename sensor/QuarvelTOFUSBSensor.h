// Sensor transport for a camera on USB, over the Quarvel EVK USB SDK.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/QuarvelTOFSensor.h"
#include "sdk/usb/quarvel_evk_sdk.h"

namespace Quarvel {

// Maps the camera's calls onto the SDK, groups SDK frames into sub-frame groups by their
// timestamps and converts samples to 12-bit values in 16-bit words.
//
// Thread contract: getFrame runs on the capture thread; every other operation on the
// caller's thread. setControl may run while getFrame is blocked in the SDK (the SDK is
// thread-safe); the camera never calls start, stop or close while getFrame runs.
// Destroying the transport releases no SDK handle: close() does, and may be called again.
class QuarvelTOFUSBSensor : public QuarvelTOFSensor {
public:
    // configPath: file handed to the SDK at open ("" for the default camera). The device
    // index is accepted for symmetry with the CSI transport and not used.
    QuarvelTOFUSBSensor(std::string configPath, int index);
    ~QuarvelTOFUSBSensor() override = default;

    // Opens and initialises the SDK camera and reads its geometry. 0, or -1 on failure
    // (an opened handle is still released by close()).
    int open(CameraInfo& info) override;
    // Releases the SDK camera; one the SDK refuses to close stays held for the next close.
    int close() override;
    // -1 when already streaming (also after a refused start, until stop) or refused.
    int start() override;
    int stop() override;
    CameraInfo getCameraInfo() override;
    // Gathers subframeCount SDK frames; -1 when a frame has an unexpected size or the group
    // lacks a sub-frame because a capture failed.
    int getFrame(uint8_t* dst, uint64_t* timestamp) override;
    // RANGE only: 2000 selects the short-range register table, any other value the long.
    int setControl(CameraCtrl ctrl, int value) override;
    // The SDK cannot read controls: always QuarvelNotImplemented, value untouched.
    int getControl(CameraCtrl ctrl, int* value) override;

    // Converts one SDK frame of `sourceBytes` bytes (bit width, bytes per sample) into
    // 16-bit samples at dst, writing at most dstCapacity bytes. Returns the bytes the
    // conversion advances the output by (what it would write), whether written or not.
    static size_t convertSamples(const uint8_t* source, size_t sourceBytes, uint32_t bitWidth,
                                 uint32_t bytesPerSample, uint8_t* dst, size_t dstCapacity);

    static constexpr int kCaptureTimeoutMs = 2000;
    // A timestamp step of this many milliseconds or more starts a new sub-frame group.
    static constexpr uint64_t kGroupGapMs = 6;

private:
    QuarvelCameraHandle sdkHandle = nullptr;
    QuarvelImageFrame imageFrame{};  // owned by the capture thread while getFrame runs
    CameraInfo info{};
    std::atomic<bool> streaming{false};
    std::string configPath;
};

}  // namespace Quarvel
