// The CSI transport: a camera on the board's MIPI CSI-2 port, over V4L2 and I2C.
#pragma once

#include <array>
#include <cstdint>

#include "core/QuarvelTOFSensor.h"
#include "core/Types.h"
#include "sensor/MemoryMapping.h"
#include "sensor/SubframeCopy.h"
#include "sensor/SystemCalls.h"
#include "sensor/UniqueFd.h"

namespace Quarvel {

// Finds the video node's media graph, sensor subdevice and I2C bus for the board, streams
// raw sub-frames through memory-mapped V4L2 buffers and carries the sensor's controls.
// Every system call goes through the SystemCalls seam given at construction, which must
// outlive the transport.
//
// Status values: 0 success; 1 unsupported control or refused value; 2 a dequeued buffer
// index out of range; -1 a failed step; -2 (QuarvelSystemError) a failing system call.
//
// Thread contract: getFrame runs on the capture thread; everything else on the caller's
// thread. Controls may run while getFrame waits: they use the subdevice and the I2C bus,
// which streaming does not touch. The transport takes no lock.
//
// Resources: every descriptor and mapping is owned; close() releases them all and is
// idempotent, a failed open() releases what it had opened, and destruction releases
// whatever is still held.
class QuarvelTOFCSISensor : public QuarvelTOFSensor {
public:
    static constexpr int kMaxSubdevices = 4;
    static constexpr int kMaxBuffers = 8;

    QuarvelTOFCSISensor(SystemCalls& system, const char* devicePath, int boardModel);
    ~QuarvelTOFCSISensor() override = default;

    // Opens the video node, discovers subdevices and bus for the board, opens the bus and
    // reads the sensor's frame size into info (width, height, bit_width 12, bpp 2).
    // 0, or -2 after releasing everything it opened.
    int open(CameraInfo& info) override;
    // Releases mappings, subdevices, video node and bus. Always 0.
    int close() override;
    // Negotiates the format, maps and queues the buffers the driver grants (at most 8,
    // refusing none) and turns streaming on. 0, -1 (negotiation or buffers) or -2
    // (stream-on).
    int start() override;
    // Stream off and unmap. 0 or -2.
    int stop() override;
    CameraInfo getCameraInfo() override { return info; }
    // Gathers subframeCount sub-frames dequeued within 5 ms of each other into dst, which
    // holds info.width x info.height x subframeCount samples of 2 bytes; the timestamp of
    // the last one in milliseconds. 0, 2 (buffer index out of range) or -2.
    int getFrame(uint8_t* dst, uint64_t* timestamp) override;
    int setControl(CameraCtrl ctrl, int value) override;
    int getControl(CameraCtrl ctrl, int* value) override;

    // What discovery found; for diagnostics and tests.
    const char* busName() const { return i2cBusName; }
    const char* mediaNodePath() const { return mediaPath; }
    int subdeviceCount() const { return subdevCount; }
    int sensorSubdeviceIndex() const { return sensorSubdevIndex; }
    uint32_t streamBufferType() const { return bufferType; }
    int grantedBufferCount() const { return bufferCount; }
    SubframeCopy subframeRoutine() const { return copySubframe; }

private:
    // Discovery (CsiDiscovery.cpp).
    int findBusNameInSysfs();
    void walkMediaGraph();
    void enablePi5CameraLink(int mediaFd);
    bool recordSubdevice(uint32_t major, uint32_t minor);
    int sensorSubdevFd() const;
    // Streaming (CsiStreaming.cpp).
    int negotiateFormat();
    int mapAndQueueBuffer(uint32_t index);
    size_t frameCapacity() const;
    // Control requests (CsiControls.cpp).
    int setV4l2Control(uint32_t id, int32_t value);
    int getV4l2Control(uint32_t id, int32_t* value);
    int writeFrameRate(int32_t value);
    void releaseAll();

    SystemCalls& system;
    UniqueFd videoFd;
    std::array<UniqueFd, kMaxSubdevices> subdevFds;
    uint8_t sensorSubdevIndex = 0;
    uint8_t subdevCount = 0;
    char i2cBusName[8] = {};
    UniqueFd i2cFd;
    uint16_t chipAddress = 0x0C;
    int32_t frameRate = 0;
    int32_t inputIndex = 0;
    int32_t boardModel;
    char devicePath[80] = {};
    char mediaPath[80] = {};
    uint32_t bufferType = 1;
    std::array<MemoryMapping, kMaxBuffers> bufferMappings;
    uint32_t bufferCount = 0;
    CameraInfo info{};
    SubframeCopy copySubframe = copyPlain;
};

}  // namespace Quarvel
