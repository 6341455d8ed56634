// The simulated V4L2 capture node: formats, the mmap buffer queue and paced streaming.
#pragma once

#include <linux/videodev2.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/ThreadSafety.h"
#include "sim/kernel/BufferLayouts.h"
#include "sim/kernel/SimDevice.h"
#include "sim/kernel/SimSensorChip.h"

namespace Quarvel {
namespace sim {

struct SimVideoNodeConfig {
    std::string driver = "unicam";
    std::string card = "unicam";
    bool multiPlanar = false;  // the node offers only V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE
    // The error for a format request of the other planarity: the ioctl core's EINVAL, or
    // ENOTTY for drivers (vivid) whose handlers of both kinds refuse the one they do not serve.
    int otherPlanarityError = EINVAL;
    BufferLayout layout = BufferLayout::Y12;
    uint32_t strideAlignment = 64;
    // Behind a media controller the node's format is set on its own and checked against the
    // sensor at stream-on; without one, setting the node's format sets the sensor's.
    bool mediaController = true;
    // The most buffers the driver grants; bytes it adds to every buffer beyond the image.
    uint32_t maxBuffers = 8;
    uint32_t extraBufferBytes = 0;
    // Sub-frames of one frame follow each other this far apart.
    uint32_t subframeSpacingUs = 2000;
    // Paced: DQBUF waits until a sub-frame is due. Unpaced: sub-frames are ready at once,
    // their timestamps advancing as if paced.
    bool paced = true;
};

// What the node delivered, for tests comparing bytes: the sensor frame and sub-frame behind
// a buffer timestamp, and the modulation it was taken with.
struct DeliveredSubframe {
    uint64_t frame;
    int subframe;
    bool shortRange;
};

// Follows the V4L2 user-space API for a capture device with memory-mapped streaming
// (QUERYCAP, ENUMINPUT/G_INPUT/S_INPUT, TRY_FMT/S_FMT/G_FMT, REQBUFS, QUERYBUF, QBUF, DQBUF,
// STREAMON, STREAMOFF). Buffers end at an inaccessible page, so reading past one faults.
class SimVideoNode : public SimDevice {
public:
    SimVideoNode(const SimVideoNodeConfig& config, std::shared_ptr<SimSensorChip> chip);
    ~SimVideoNode() override;

    int ioctl(unsigned long request, void* argument, bool nonBlocking) override;
    void* map(off_t offset, size_t length) override;
    void unmapped(void* address) override;
    void released() override;

    // Checked at stream-on besides the sensor's format (media links, bridge formats): 0 or a
    // negative errno.
    std::function<int()> validatePipeline;

    // Fault injection and timing.
    void setTimestampBase(int64_t seconds, int64_t microseconds);
    void loseSubframe(uint64_t index);                          // never delivered
    void delaySubframe(uint64_t index, uint32_t microseconds);  // and all after it
    void reportIndexOnce(uint32_t index);                       // next DQBUF reports this index
    void setPaced(bool paced);

    // Observation.
    bool lookup(const timeval& timestamp, DeliveredSubframe* delivered) const;
    bool lookupMilliseconds(uint64_t milliseconds, DeliveredSubframe* delivered) const;
    uint32_t bytesPerLine() const;
    uint32_t bufferCount() const;
    bool streaming() const;

private:
    struct Buffer {
        uint8_t* region = nullptr;  // start of the allocation (with its guard page)
        size_t regionLength = 0;
        uint8_t* data = nullptr;  // the buffer, ending at the guard page
        size_t length = 0;
        uint32_t offset = 0;
        int mapped = 0;
        bool queued = false;
        bool done = false;
        uint32_t bytesused = 0;
        timeval timestamp{};
        uint32_t sequence = 0;
    };

    int querycap(void* argument);
    int format(unsigned long request, void* argument) REQUIRES(nodeMutex);
    // Fills the single- or multi-planar format reply of this node with the given values.
    void writeFormat(v4l2_format* fmt, uint32_t w, uint32_t h, uint32_t fourcc,
                     uint32_t bytesPerLine, uint32_t image) const;
    int requestBuffers(void* argument) REQUIRES(nodeMutex);
    int queryBuffer(void* argument) REQUIRES(nodeMutex);
    int queueBuffer(void* argument) REQUIRES(nodeMutex);
    // Sleeps in `lock` (on nodeMutex) while no buffer is due.
    int dequeueBuffer(void* argument, bool nonBlocking, MutexLock& lock) REQUIRES(nodeMutex);
    int streamOn(void* argument) REQUIRES(nodeMutex);
    int streamOff(void* argument) REQUIRES(nodeMutex);
    uint32_t bufferType() const;
    void adjustFormat(uint32_t* width, uint32_t* height, uint32_t* pixelFormat,
                      uint32_t* bytesPerLine, uint32_t* sizeImage) const;
    void describe(const Buffer& buffer, uint32_t index, void* argument) const;
    // Drops the queue; a buffer still mapped becomes an orphan.
    void freeBuffers() REQUIRES(nodeMutex);
    // Microseconds on the stream clock at which sub-frame slot `index` is due.
    int64_t slotTime(uint64_t index) REQUIRES(nodeMutex);

    const SimVideoNodeConfig config;
    const std::shared_ptr<SimSensorChip> chip;

    mutable Mutex nodeMutex;  // guards every member below
    ConditionVariable queueChanged;
    uint32_t width GUARDED_BY(nodeMutex);
    uint32_t height GUARDED_BY(nodeMutex);
    uint32_t pixelFormat GUARDED_BY(nodeMutex);
    uint32_t stride GUARDED_BY(nodeMutex);
    uint32_t sizeImage GUARDED_BY(nodeMutex);
    uint32_t input GUARDED_BY(nodeMutex) = 0;
    std::vector<Buffer> buffers GUARDED_BY(nodeMutex);
    std::vector<Buffer> orphans GUARDED_BY(nodeMutex);  // freed by a new request while still mapped
    std::deque<uint32_t> incoming GUARDED_BY(nodeMutex);
    bool isStreaming GUARDED_BY(nodeMutex) = false;
    bool pacedStreaming GUARDED_BY(nodeMutex);
    uint64_t nextSlot GUARDED_BY(nodeMutex) = 0;
    uint64_t slotsTimed GUARDED_BY(nodeMutex) = 0;
    std::map<uint64_t, int64_t> slotTimes GUARDED_BY(nodeMutex);  // timed slots not yet delivered
    int64_t nextSlotTimeUs GUARDED_BY(nodeMutex) = 0;
    int64_t streamStartUs GUARDED_BY(nodeMutex) = 0;
    int64_t timestampBaseUs GUARDED_BY(nodeMutex) = -1;
    std::chrono::steady_clock::time_point streamStart GUARDED_BY(nodeMutex);
    std::set<uint64_t> lostSlots GUARDED_BY(nodeMutex);
    std::map<uint64_t, uint32_t> lateSlots GUARDED_BY(nodeMutex);
    int64_t reportIndex GUARDED_BY(nodeMutex) = -1;
    uint32_t sequence GUARDED_BY(nodeMutex) = 0;
    std::map<int64_t, DeliveredSubframe> delivered GUARDED_BY(nodeMutex);
    std::vector<uint16_t> samples GUARDED_BY(nodeMutex);
};

}  // namespace sim
}  // namespace Quarvel
