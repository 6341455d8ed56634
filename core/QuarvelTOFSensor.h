// The sensor transport contract: what the camera needs from a CSI or USB link.
#pragma once

#include <cstdint>

#include "core/Types.h"

namespace Quarvel {

// Delivers raw frames from the hardware. The camera creates one per open and owns it.
// Destroying a transport releases nothing: only close() does, and close() must be
// harmless when called again or on a transport whose open failed.
//
// Thread contract: getFrame runs on the capture thread; everything else on the caller's
// thread. The camera serialises control calls and never calls start/stop/close while
// its capture thread runs.
class QuarvelTOFSensor {
public:
    virtual ~QuarvelTOFSensor() = default;

    // Finds and opens the hardware; writes info.width, height, bit_width, bpp and keeps a
    // copy of the whole record. 0 or a nonzero status that the camera passes on.
    virtual int open(CameraInfo& info) = 0;
    virtual int close() = 0;
    virtual int start() = 0;
    virtual int stop() = 0;
    virtual CameraInfo getCameraInfo() = 0;
    // Fills dst with subframeCount sub-frames one after the other and stores the frame's
    // timestamp. Only -1 counts as a failed frame for the camera. dst holds
    // width x height x subframeCount samples of 2 bytes.
    virtual int getFrame(uint8_t* dst, uint64_t* timestamp) = 0;
    // 1 (QuarvelInvalidParameter) means unsupported control or refused value.
    virtual int setControl(CameraCtrl ctrl, int value) = 0;
    virtual int getControl(CameraCtrl ctrl, int* value) = 0;

    // Raw sub-frames gathered by one getFrame; the camera sets 4 for the 240x180 sensor.
    int32_t subframeCount = 1;
};

}  // namespace Quarvel
