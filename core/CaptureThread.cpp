// The capture thread: read, stamp, skip, process, queue; frame-rate measurement.
#include <chrono>
#include <cstddef>
#include <limits>
#include <thread>

#include "core/FrameRateRules.h"
#include "core/QuarvelTOFCamera.h"

namespace Quarvel {

namespace {
constexpr int64_t kAdjustPeriodNs = 3000000000LL;
constexpr int kReclaimWaitMs = 20;

int64_t systemClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Whether a plane of width x height elements of `elementBytes` can be allocated and indexed
// here. Where size_t has 32 bits (armhf) a larger product would wrap to a small allocation
// that the sensor or the device then writes past.
bool planeFits(uint64_t width, uint64_t height, uint64_t elementBytes) {
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
    if (width == 0 || height == 0) return true;
    return height <= limit / elementBytes / width;
}
}  // namespace

int QuarvelTOFCamera::setOutputType(FrameType type) {
    if (!stopFlag.load()) return -1;
    if (!sensor || !device) return -1;
    info.type = type;
    CameraInfo cacheInfo = info;
    const uint64_t cacheLines =
        static_cast<uint64_t>(info.height) * static_cast<uint32_t>(sensor->subframeCount);
    cacheInfo.height = static_cast<uint32_t>(cacheLines);
    device->getFrameFormats(&rawLayout, &outputLayout);
    if (type != FrameType::RAW && type != FrameType::DEPTH) return -1;

    // The device reads the cache by its raw layout: that layout must fit the sensor frame.
    if (rawLayout.width < 0 || rawLayout.height < 0 || outputLayout.width < 0 ||
        outputLayout.height < 0) {
        return -1;
    }

    // The cache holds every sub-frame as 16-bit samples, the output planes 4-byte floats (or
    // 16-bit raw samples): sizes that wrap are refused rather than allocated short.
    if (cacheLines > std::numeric_limits<uint32_t>::max() ||
        !planeFits(cacheInfo.width, cacheLines, 2) ||
        !planeFits(static_cast<uint32_t>(outputLayout.width),
                   static_cast<uint32_t>(outputLayout.height), sizeof(float))) {
        return -1;
    }
    const uint64_t rawBytes = static_cast<uint64_t>(rawLayout.width) *
                              static_cast<uint64_t>(rawLayout.height) * 2u;
    const uint64_t cacheBytes = static_cast<uint64_t>(cacheInfo.width) * cacheInfo.height * 2u;
    if (rawBytes > cacheBytes) return -1;

    auto next = std::make_shared<FramePool>(
        cacheInfo, type == FrameType::RAW ? rawLayout : outputLayout);
    // Counted before the swap: a frame taken from the old pool from now on is seen as stale.
    next->generation = ++poolGenerationCount;
    replacePool(std::move(next));
    return 0;
}

void QuarvelTOFCamera::captureThread() {
    // The pool is replaced only while no capture thread runs: one reference serves the run.
    const std::shared_ptr<FramePool> pool = currentPool();
    uint8_t* cache = pool->cacheBytes();
    lastFrameTime = systemClockNs();
    int64_t lastAdjust = lastFrameTime;
    while (!stopFlag.load()) {
        if (autoFrameRate.load(std::memory_order_relaxed) &&
            systemClockNs() - lastAdjust > kAdjustPeriodNs) {
            adjustFrameRate();
            lastAdjust = systemClockNs();
        }
        // The raw frame is read before a buffer is claimed, so the frame queued last stays
        // ready for the user during the whole read (a frame period) instead of being
        // reclaimed the moment it was queued. A dropped frame claims no buffer at all.
        uint64_t timestamp = 0;
        if (readFrame(cache, &timestamp) != 0) continue;
        LinkNode* node = claimNode(*pool);
        if (node == nullptr) break;  // stopped while every buffer was in the user's hands
        if (processFrame(cache, node, timestamp) == 0) {
            updateFps();
            pool->publish(node);
        } else {
            pool->giveBack(node);
        }
    }
}

LinkNode* QuarvelTOFCamera::claimNode(FramePool& framePool) {
    // A frame read before `stop` is still processed and queued; the flag only ends a wait.
    for (;;) {
        LinkNode* node = framePool.takeFree();
        if (node == nullptr) node = framePool.reclaimOldest(kReclaimWaitMs);
        if (node != nullptr) return node;
        if (stopFlag.load()) return nullptr;
        // Every buffer is in the user's hands; the frame read waits in the cache.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool QuarvelTOFCamera::skipThisFrame() {
    const int32_t loop = skipFrameLoop.load(std::memory_order_relaxed);
    int32_t skip = skipFrame.load(std::memory_order_relaxed);
    // The two are set one at a time; a frame that sees a mix never drops more than all.
    if (skip > loop) skip = loop;
    skipCounter = (skipCounter + 1) % loop;
    const int k = static_cast<uint8_t>(loop - skip);
    const int l8 = static_cast<uint8_t>(loop);
    const int c8 = static_cast<uint8_t>(skipCounter);
    return (k * c8) / l8 == (k * (c8 + 1)) / l8;
}

int QuarvelTOFCamera::analysisFrame(uint8_t* cache, LinkNode* node) {
    uint64_t timestamp = 0;
    const int read = readFrame(cache, &timestamp);
    if (read == QuarvelSkipFrame) node->buffer->setTimestamp(timestamp);
    if (read != 0) return read;
    return processFrame(cache, node, timestamp);
}

int QuarvelTOFCamera::readFrame(uint8_t* cache, uint64_t* timestamp) {
    // Only 0 means the cache holds one whole new frame: -2 (a failed dequeue or queue) and 2
    // (a buffer index out of range) leave it part old, part new, with no timestamp.
    if (sensor->getFrame(cache, timestamp) != 0) return -1;
    if (skipThisFrame()) return QuarvelSkipFrame;
    return 0;
}

int QuarvelTOFCamera::processFrame(uint8_t* cache, LinkNode* node, uint64_t timestamp) {
    node->buffer->setTimestamp(timestamp);
    QuarvelFrameBuffer* buffer = node->buffer.get();
    switch (info.type) {
        case FrameType::RAW:
            getRawImages(cache, static_cast<int16_t*>(buffer->getData(FrameType::RAW)));
            return 0;
        case FrameType::DEPTH:
            return getPhaseImage(cache, static_cast<float*>(buffer->getData(FrameType::DEPTH)),
                                 static_cast<float*>(buffer->getData(FrameType::AMPLITUDE)),
                                 static_cast<float*>(buffer->getData(FrameType::CONFIDENCE))) == 1
                       ? 0
                       : -1;
        default:
            return -1;
    }
}

int QuarvelTOFCamera::getRawImages(uint8_t* cache, int16_t* out) {
    return device->getRawImages(cache, out) ? 1 : 0;
}

int QuarvelTOFCamera::getPhaseImage(uint8_t* cache, float* depth, float* amplitude,
                                    float* confidence) {
    return device->getPhaseImage(cache, depth, amplitude, confidence) ? 1 : 0;
}

void QuarvelTOFCamera::updateFps() {
    const int64_t now = systemClockNs();
    const int64_t elapsedMs = (now - lastFrameTime) / 1000000;
    lastFrameTime = now;
    const IntervalEstimate estimate = smoothInterval(
        {frameInterval, smoothing}, frameCount.load(std::memory_order_relaxed), elapsedMs);
    frameInterval = estimate.frameInterval;
    smoothing = estimate.smoothing;
    fps.store(1000.0f / frameInterval, std::memory_order_relaxed);
    frameCount.fetch_add(1, std::memory_order_relaxed);
}

void QuarvelTOFCamera::adjustFrameRate() {
    const int32_t target = frameRateTarget(fps.load(std::memory_order_relaxed));
    int current = 0;
    getControl(CameraCtrl::FRAME_RATE, &current);
    if (frameRateNeedsChange(target, current)) setControl(CameraCtrl::FRAME_RATE, target);
}

}  // namespace Quarvel
