// Simulated V4L2 capture node.
#include "sim/kernel/SimVideoNode.h"

#include <linux/videodev2.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "sensor/V4l2Compat.h"

namespace Quarvel {
namespace sim {

namespace {

constexpr size_t kDeliveredKept = 4096;
constexpr uint32_t kMaxDimension = 8192;

int64_t monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

size_t pageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

size_t roundUpToPage(size_t length) { return (length + pageSize() - 1) / pageSize() * pageSize(); }

timeval toTimeval(int64_t microseconds) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(microseconds / 1000000);
    value.tv_usec = static_cast<suseconds_t>(microseconds % 1000000);
    return value;
}

}  // namespace

SimVideoNode::SimVideoNode(const SimVideoNodeConfig& nodeConfig,
                           std::shared_ptr<SimSensorChip> sensorChip)
    : config(nodeConfig), chip(std::move(sensorChip)), pacedStreaming(nodeConfig.paced) {
    const FrameSize native = chip->nativeSize();
    width = native.width;
    height = native.height;
    pixelFormat = config.layout == BufferLayout::Y12P ? V4L2_PIX_FMT_Y12P : V4L2_PIX_FMT_Y12;
    adjustFormat(&width, &height, &pixelFormat, &stride, &sizeImage);
}

SimVideoNode::~SimVideoNode() {
    MutexLock lock(nodeMutex);
    freeBuffers();
    for (Buffer& orphan : orphans) ::munmap(orphan.region, orphan.regionLength);
}

uint32_t SimVideoNode::bufferType() const {
    return config.multiPlanar ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE : V4L2_BUF_TYPE_VIDEO_CAPTURE;
}

void SimVideoNode::setTimestampBase(int64_t seconds, int64_t microseconds) {
    MutexLock lock(nodeMutex);
    timestampBaseUs = seconds * 1000000 + microseconds;
}

void SimVideoNode::loseSubframe(uint64_t index) {
    MutexLock lock(nodeMutex);
    lostSlots.insert(index);
}

void SimVideoNode::delaySubframe(uint64_t index, uint32_t microseconds) {
    MutexLock lock(nodeMutex);
    lateSlots[index] = microseconds;
}

void SimVideoNode::reportIndexOnce(uint32_t index) {
    MutexLock lock(nodeMutex);
    reportIndex = index;
}

void SimVideoNode::setPaced(bool paced) {
    MutexLock lock(nodeMutex);
    pacedStreaming = paced;
}

bool SimVideoNode::lookup(const timeval& timestamp, DeliveredSubframe* found) const {
    MutexLock lock(nodeMutex);
    auto entry =
        delivered.find(static_cast<int64_t>(timestamp.tv_sec) * 1000000 + timestamp.tv_usec);
    if (entry == delivered.end()) return false;
    *found = entry->second;
    return true;
}

bool SimVideoNode::lookupMilliseconds(uint64_t milliseconds, DeliveredSubframe* found) const {
    MutexLock lock(nodeMutex);
    const int64_t from = static_cast<int64_t>(milliseconds) * 1000;
    auto entry = delivered.lower_bound(from);
    if (entry == delivered.end() || entry->first >= from + 1000) return false;
    *found = entry->second;
    return true;
}

uint32_t SimVideoNode::bytesPerLine() const {
    MutexLock lock(nodeMutex);
    return stride;
}

uint32_t SimVideoNode::bufferCount() const {
    MutexLock lock(nodeMutex);
    return static_cast<uint32_t>(buffers.size());
}

bool SimVideoNode::streaming() const {
    MutexLock lock(nodeMutex);
    return isStreaming;
}

int SimVideoNode::ioctl(unsigned long request, void* argument, bool nonBlocking) {
    MutexLock lock(nodeMutex);
    switch (request) {
        case VIDIOC_QUERYCAP:
            return querycap(argument);
        case VIDIOC_ENUMINPUT: {
            auto* description = static_cast<v4l2_input*>(argument);
            if (description->index != 0) return -EINVAL;
            const uint32_t index = description->index;
            std::memset(description, 0, sizeof *description);
            description->index = index;
            std::snprintf(reinterpret_cast<char*>(description->name), sizeof description->name,
                          "Camera 0");
            description->type = V4L2_INPUT_TYPE_CAMERA;
            return 0;
        }
        case VIDIOC_G_INPUT:
            *static_cast<int*>(argument) = static_cast<int>(input);
            return 0;
        case VIDIOC_S_INPUT:
            if (*static_cast<int*>(argument) != 0) return -EINVAL;
            input = 0;
            return 0;
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT:
        case VIDIOC_TRY_FMT:
            return format(request, argument);
        case VIDIOC_REQBUFS:
            return requestBuffers(argument);
        case VIDIOC_QUERYBUF:
            return queryBuffer(argument);
        case VIDIOC_QBUF:
            return queueBuffer(argument);
        case VIDIOC_DQBUF:
            return dequeueBuffer(argument, nonBlocking, lock);
        case VIDIOC_STREAMON:
            return streamOn(argument);
        case VIDIOC_STREAMOFF:
            return streamOff(argument);
        default:
            return -ENOTTY;
    }
}

int SimVideoNode::querycap(void* argument) {
    auto* capability = static_cast<v4l2_capability*>(argument);
    std::memset(capability, 0, sizeof *capability);
    std::snprintf(reinterpret_cast<char*>(capability->driver), sizeof capability->driver, "%s",
                  config.driver.c_str());
    std::snprintf(reinterpret_cast<char*>(capability->card), sizeof capability->card, "%s",
                  config.card.c_str());
    std::snprintf(reinterpret_cast<char*>(capability->bus_info), sizeof capability->bus_info,
                  "platform:%s", config.driver.c_str());
    capability->version = 0x060100;
    capability->device_caps =
        (config.multiPlanar ? V4L2_CAP_VIDEO_CAPTURE_MPLANE : V4L2_CAP_VIDEO_CAPTURE) |
        V4L2_CAP_STREAMING | (config.mediaController ? V4L2_CAP_IO_MC : 0);
    capability->capabilities = capability->device_caps | V4L2_CAP_DEVICE_CAPS;
    return 0;
}

void SimVideoNode::adjustFormat(uint32_t* w, uint32_t* h, uint32_t* fourcc, uint32_t* bytesPerLine,
                                uint32_t* image) const {
    *fourcc = config.layout == BufferLayout::Y12P ? V4L2_PIX_FMT_Y12P : V4L2_PIX_FMT_Y12;
    if (!config.mediaController) {
        // Without a media controller the node sets the sensor: it gets what the sensor has.
        const FrameSize size = chip->nearestSize(*w, *h);
        *w = size.width;
        *h = size.height;
    }
    *w = std::clamp<uint32_t>(*w & ~1u, 16, kMaxDimension);
    *h = std::clamp<uint32_t>(*h, 1, kMaxDimension);
    *bytesPerLine = strideFor(config.layout, *w, config.strideAlignment);
    *image = *bytesPerLine * *h + config.extraBufferBytes;
}

void SimVideoNode::writeFormat(v4l2_format* fmt, uint32_t w, uint32_t h, uint32_t fourcc,
                               uint32_t bytesPerLine, uint32_t image) const {
    if (config.multiPlanar) {
        fmt->fmt.pix_mp.width = w;
        fmt->fmt.pix_mp.height = h;
        fmt->fmt.pix_mp.pixelformat = fourcc;
        fmt->fmt.pix_mp.field = V4L2_FIELD_NONE;
        fmt->fmt.pix_mp.num_planes = 1;
        fmt->fmt.pix_mp.plane_fmt[0].bytesperline = bytesPerLine;
        fmt->fmt.pix_mp.plane_fmt[0].sizeimage = image;
    } else {
        fmt->fmt.pix.width = w;
        fmt->fmt.pix.height = h;
        fmt->fmt.pix.pixelformat = fourcc;
        fmt->fmt.pix.field = V4L2_FIELD_NONE;
        fmt->fmt.pix.bytesperline = bytesPerLine;
        fmt->fmt.pix.sizeimage = image;
    }
}

int SimVideoNode::format(unsigned long request, void* argument) {
    auto* fmt = static_cast<v4l2_format*>(argument);
    const uint32_t otherType =
        config.multiPlanar ? V4L2_BUF_TYPE_VIDEO_CAPTURE : V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    if (fmt->type == otherType) return -config.otherPlanarityError;
    if (fmt->type != bufferType()) return -EINVAL;
    if (request == VIDIOC_G_FMT) {
        if (config.multiPlanar) {
            std::memset(&fmt->fmt.pix_mp, 0, sizeof fmt->fmt.pix_mp);
        } else {
            std::memset(&fmt->fmt.pix, 0, sizeof fmt->fmt.pix);
        }
        writeFormat(fmt, width, height, pixelFormat, stride, sizeImage);
        return 0;
    }
    uint32_t w = config.multiPlanar ? fmt->fmt.pix_mp.width : fmt->fmt.pix.width;
    uint32_t h = config.multiPlanar ? fmt->fmt.pix_mp.height : fmt->fmt.pix.height;
    uint32_t fourcc = 0;
    uint32_t bytesPerLine = 0;
    uint32_t image = 0;
    adjustFormat(&w, &h, &fourcc, &bytesPerLine, &image);
    writeFormat(fmt, w, h, fourcc, bytesPerLine, image);
    if (request == VIDIOC_TRY_FMT) return 0;
    if (!buffers.empty()) return -EBUSY;  // the queue holds buffers of the old size
    width = w;
    height = h;
    pixelFormat = fourcc;
    stride = bytesPerLine;
    sizeImage = image;
    if (!config.mediaController) chip->setActiveSize({w, h});
    return 0;
}

void SimVideoNode::freeBuffers() {
    // A buffer still mapped is orphaned: its memory lives until its last mapping goes.
    for (Buffer& buffer : buffers) {
        if (buffer.mapped > 0) {
            orphans.push_back(buffer);
        } else if (buffer.region != nullptr) {
            ::munmap(buffer.region, buffer.regionLength);
        }
    }
    buffers.clear();
    incoming.clear();
}

int SimVideoNode::requestBuffers(void* argument) {
    auto* request = static_cast<v4l2_requestbuffers*>(argument);
    if (request->type != bufferType() || request->memory != V4L2_MEMORY_MMAP) return -EINVAL;
    if (isStreaming) return -EBUSY;
    // Like videobuf2, a new request frees the queue even while buffers are mapped.
    freeBuffers();
    const uint32_t granted = std::min(request->count, config.maxBuffers);
    const size_t guard = pageSize();
    for (uint32_t index = 0; index < granted; ++index) {
        Buffer buffer;
        buffer.length = sizeImage;
        const size_t body = roundUpToPage(sizeImage);
        buffer.regionLength = body + guard;
        void* region = ::mmap(nullptr, buffer.regionLength, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (region == MAP_FAILED) {
            freeBuffers();
            return -ENOMEM;
        }
        buffer.region = static_cast<uint8_t*>(region);
        ::mprotect(buffer.region + body, guard, PROT_NONE);
        buffer.data = buffer.region + body - sizeImage;
        buffer.offset = index * 0x100000u;
        buffers.push_back(buffer);
    }
    request->count = granted;
    request->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    return 0;
}

void SimVideoNode::describe(const Buffer& buffer, uint32_t index, void* argument) const {
    auto* description = static_cast<v4l2_buffer*>(argument);
    v4l2_plane* planes = config.multiPlanar ? description->m.planes : nullptr;
    description->index = index;
    description->bytesused = config.multiPlanar ? 0 : buffer.bytesused;
    description->flags =
        V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | (buffer.queued ? V4L2_BUF_FLAG_QUEUED : 0) |
        (buffer.mapped > 0 ? V4L2_BUF_FLAG_MAPPED : 0) | (buffer.done ? V4L2_BUF_FLAG_DONE : 0);
    description->field = V4L2_FIELD_NONE;
    description->timestamp = buffer.timestamp;
    description->sequence = buffer.sequence;
    description->memory = V4L2_MEMORY_MMAP;
    if (config.multiPlanar) {
        description->length = 1;
        planes[0].bytesused = buffer.bytesused;
        planes[0].length = static_cast<uint32_t>(buffer.length);
        planes[0].m.mem_offset = buffer.offset;
        planes[0].data_offset = 0;
    } else {
        description->length = static_cast<uint32_t>(buffer.length);
        description->m.offset = buffer.offset;
    }
}

int SimVideoNode::queryBuffer(void* argument) {
    auto* description = static_cast<v4l2_buffer*>(argument);
    if (description->type != bufferType() || description->index >= buffers.size()) {
        return -EINVAL;
    }
    if (config.multiPlanar && (description->m.planes == nullptr || description->length < 1)) {
        return -EINVAL;
    }
    describe(buffers[description->index], description->index, argument);
    return 0;
}

int SimVideoNode::queueBuffer(void* argument) {
    auto* description = static_cast<v4l2_buffer*>(argument);
    if (description->type != bufferType() || description->memory != V4L2_MEMORY_MMAP ||
        description->index >= buffers.size()) {
        return -EINVAL;
    }
    if (config.multiPlanar && (description->m.planes == nullptr || description->length < 1)) {
        return -EINVAL;
    }
    Buffer& buffer = buffers[description->index];
    if (buffer.queued) return -EINVAL;
    buffer.queued = true;
    buffer.done = false;
    incoming.push_back(description->index);
    describe(buffer, description->index, argument);
    queueChanged.notifyAll();
    return 0;
}

int64_t SimVideoNode::slotTime(uint64_t index) {
    // Slots are timed in order; each frame starts one frame period after the previous one,
    // its sub-frames config.subframeSpacingUs apart; a late slot moves everything after it.
    const int perFrame = chip->subframesPerFrame();
    while (slotsTimed <= index) {
        if (slotsTimed > 0) {
            if (static_cast<int>(slotsTimed % static_cast<uint64_t>(perFrame)) != 0) {
                nextSlotTimeUs += config.subframeSpacingUs;
            } else {
                const int64_t period = static_cast<int64_t>(1e6 / chip->framesPerSecond());
                nextSlotTimeUs +=
                    period - static_cast<int64_t>(perFrame - 1) * config.subframeSpacingUs;
            }
        }
        auto late = lateSlots.find(slotsTimed);
        if (late != lateSlots.end()) nextSlotTimeUs += late->second;
        slotTimes[slotsTimed] = nextSlotTimeUs;
        ++slotsTimed;
    }
    // Slots before the next one to deliver are never asked for again.
    slotTimes.erase(slotTimes.begin(), slotTimes.lower_bound(nextSlot));
    auto found = slotTimes.find(index);
    return found != slotTimes.end() ? found->second : nextSlotTimeUs;
}

int SimVideoNode::dequeueBuffer(void* argument, bool nonBlocking, MutexLock& lock) {
    auto* description = static_cast<v4l2_buffer*>(argument);
    if (description->type != bufferType() || description->memory != V4L2_MEMORY_MMAP) {
        return -EINVAL;
    }
    if (config.multiPlanar && (description->m.planes == nullptr || description->length < 1)) {
        return -EINVAL;
    }
    int64_t due = 0;
    for (;;) {
        if (!isStreaming) return -EINVAL;
        if (incoming.empty()) {
            if (nonBlocking) return -EAGAIN;
            queueChanged.wait(lock);
            continue;
        }
        while (lostSlots.count(nextSlot) != 0) ++nextSlot;
        due = slotTime(nextSlot);
        if (!pacedStreaming) break;
        const auto dueAt = streamStart + std::chrono::microseconds(due - streamStartUs);
        const auto now = std::chrono::steady_clock::now();
        if (dueAt > now) {
            if (nonBlocking) return -EAGAIN;
            queueChanged.waitUntil(lock, dueAt);
            continue;
        }
        // A reader that fell behind by more than the queue's depth loses the oldest slots,
        // as a driver with no free buffer drops frames.
        const uint64_t depth = std::max<size_t>(1, buffers.size());
        const int64_t nowUs =
            streamStartUs +
            std::chrono::duration_cast<std::chrono::microseconds>(now - streamStart).count();
        if (slotTime(nextSlot + depth) <= nowUs) {
            ++nextSlot;
            continue;
        }
        break;
    }

    const uint32_t index = incoming.front();
    incoming.pop_front();
    Buffer& buffer = buffers[index];
    const int perFrame = chip->subframesPerFrame();
    const uint64_t frame = nextSlot / static_cast<uint64_t>(perFrame);
    const int subframe = static_cast<int>(nextSlot % static_cast<uint64_t>(perFrame));
    const bool shortRange = chip->shortRange();
    samples.resize(static_cast<size_t>(width) * height);
    const auto synthesisStart = std::chrono::steady_clock::now();
    if (chip->synthesize(frame, subframe, {width, height}, shortRange, samples.data(),
                         samples.size()) == 0) {
        std::fill(samples.begin(), samples.end(), 0);
    }
    encodeSubframe(config.layout, samples.data(), width, height, stride, buffer.data,
                   buffer.length);
    // A sensor runs from its own clock: work within one sub-frame's share of the frame
    // period leaves the absolute schedule alone, so the delivered rate matches the
    // timestamps. Only work beyond that share (a host that cannot keep up, such as an
    // emulator) moves the stream by the excess, so the reader does not fall behind and lose
    // sub-frames for the simulation's sake. Timestamps keep the sensor's schedule.
    const auto work = std::chrono::steady_clock::now() - synthesisStart;
    const std::chrono::duration<double> share(1.0 / chip->framesPerSecond() / perFrame);
    const auto excess =
        work - std::chrono::duration_cast<std::chrono::steady_clock::duration>(share);
    if (excess > std::chrono::steady_clock::duration::zero()) streamStart += excess;
    buffer.queued = false;
    buffer.done = false;
    buffer.bytesused = static_cast<uint32_t>(buffer.length);
    buffer.timestamp = toTimeval(due);
    buffer.sequence = sequence++;
    delivered[due] = {frame, subframe, shortRange};
    if (delivered.size() > kDeliveredKept) delivered.erase(delivered.begin());
    ++nextSlot;

    describe(buffer, index, argument);
    if (reportIndex >= 0) {
        description->index = static_cast<uint32_t>(reportIndex);
        reportIndex = -1;
    }
    return 0;
}

int SimVideoNode::streamOn(void* argument) {
    if (*static_cast<uint32_t*>(argument) != bufferType()) return -EINVAL;
    if (buffers.empty()) return -EINVAL;
    if (isStreaming) return 0;
    if (config.mediaController) {
        const FrameSize sensor = chip->activeSize();
        if (sensor.width != width || sensor.height != height) return -EPIPE;
    }
    if (validatePipeline) {
        if (const int error = validatePipeline()) return error;
    }
    isStreaming = true;
    // Read in this order, the schedule's clock is never behind the timestamps' clock: a
    // sub-frame never arrives before the time it is stamped with.
    streamStartUs = timestampBaseUs >= 0 ? timestampBaseUs : monotonicMicroseconds();
    streamStart = std::chrono::steady_clock::now();
    nextSlot = 0;
    slotsTimed = 0;
    slotTimes.clear();
    nextSlotTimeUs = streamStartUs;
    return 0;
}

int SimVideoNode::streamOff(void* argument) {
    if (*static_cast<uint32_t*>(argument) != bufferType()) return -EINVAL;
    isStreaming = false;
    // Stream-off returns every buffer to the application.
    for (Buffer& buffer : buffers) buffer.queued = false;
    incoming.clear();
    queueChanged.notifyAll();
    return 0;
}

void* SimVideoNode::map(off_t offset, size_t length) {
    MutexLock lock(nodeMutex);
    for (Buffer& buffer : buffers) {
        if (buffer.offset == static_cast<uint32_t>(offset) && length <= buffer.length) {
            ++buffer.mapped;
            return buffer.data;
        }
    }
    return nullptr;
}

void SimVideoNode::unmapped(void* address) {
    MutexLock lock(nodeMutex);
    for (Buffer& buffer : buffers) {
        if (buffer.data == address && buffer.mapped > 0) --buffer.mapped;
    }
    for (auto orphan = orphans.begin(); orphan != orphans.end(); ++orphan) {
        if (orphan->data != address) continue;
        if (--orphan->mapped <= 0) {
            ::munmap(orphan->region, orphan->regionLength);
            orphans.erase(orphan);
        }
        break;
    }
}

void SimVideoNode::released() {
    // The last file closed: streaming stops and the buffers go.
    MutexLock lock(nodeMutex);
    isStreaming = false;
    queueChanged.notifyAll();
    freeBuffers();
}

}  // namespace sim
}  // namespace Quarvel
