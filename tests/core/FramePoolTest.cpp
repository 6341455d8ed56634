// Frame buffers and the pool on their own: planes, formats, lists, timeouts, releases.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/FramePool.h"

using namespace Quarvel;

namespace {

CameraInfo cacheInfo(FrameType type, uint32_t width, uint32_t height) {
    CameraInfo info{};
    info.type = type;
    info.width = width;
    info.height = height;
    return info;
}

// Fills a free node as the capture thread would and queues it.
LinkNode* deliver(FramePool& pool, uint64_t timestamp) {
    LinkNode* node = pool.takeFree();
    if (node == nullptr) node = pool.reclaimOldest(0);
    if (node == nullptr) return nullptr;
    node->buffer->setTimestamp(timestamp);
    pool.publish(node);
    return node;
}

uint64_t timestampOf(QuarvelFrameBuffer* frame) {
    FrameDataFormat format{};
    EXPECT_EQ(frame->getFormat(FrameType::DEPTH, format), 0);
    return format.timestamp;
}

}  // namespace

TEST(FrameBuffers, PlanesAndFormatsByType) {
    DepthData depth(4, 3);
    EXPECT_EQ(depth.getData(FrameType::AMPLITUDE), depth.amplitude.get());
    EXPECT_EQ(depth.getData(FrameType::DEPTH), depth.depth.get());
    EXPECT_EQ(depth.getData(FrameType::CONFIDENCE), depth.confidence.get());
    EXPECT_EQ(depth.getData(FrameType::RAW), nullptr);
    FrameDataFormat format{};
    ASSERT_EQ(depth.getFormat(FrameType::AMPLITUDE, format), 0);
    EXPECT_EQ(format.type, FrameType::CONFIDENCE);
    depth.setTimestamp(77);
    ASSERT_EQ(depth.getFormat(FrameType::DEPTH, format), 0);
    EXPECT_EQ(format.timestamp, 77u);
    EXPECT_EQ(format.width, 4u);
    ASSERT_EQ(depth.getFormat(FrameType::CONFIDENCE, format), 0);
    EXPECT_EQ(format.timestamp, 77u);

    RawData raw(4, 3);
    EXPECT_EQ(raw.getData(FrameType::AMPLITUDE), nullptr);
    FrameDataFormat untouched{9, 9, FrameType::CACHE, 9};
    EXPECT_EQ(raw.getFormat(FrameType::DEPTH, untouched), -1);
    EXPECT_EQ(untouched.width, 9u);
    EXPECT_EQ(untouched.timestamp, 9u);

    CacheData cache(240, 720);
    EXPECT_EQ(cache.size(), 240u * 720u * 2u);
    ASSERT_EQ(cache.getFormat(FrameType::CACHE, format), 0);
    EXPECT_EQ(format.height, 1440u);
}

TEST(FramePoolBuild, SizesFollowTheCacheInfoAndLayout) {
    FramePool depthPool(cacheInfo(FrameType::DEPTH, 240, 720), FrameLayout{2, 240, 180});
    EXPECT_EQ(depthPool.cacheSize(), 240u * 720u * 2u);
    ASSERT_TRUE(depthPool.nodeList);
    EXPECT_EQ(depthPool.nodeList->nodes.size(), 3u);
    FrameDataFormat format{};
    depthPool.nodeList->nodes[0]->buffer->getFormat(FrameType::DEPTH, format);
    EXPECT_EQ(format.width, 240u);
    EXPECT_EQ(format.height, 180u);

    FramePool rawPool(cacheInfo(FrameType::RAW, 240, 720), FrameLayout{2, 240, 720});
    ASSERT_NE(rawPool.nodeList->nodes[0]->buffer->getData(FrameType::RAW), nullptr);

    FramePool cacheOnly(cacheInfo(FrameType::CONFIDENCE, 8, 8), FrameLayout{2, 8, 8});
    EXPECT_FALSE(cacheOnly.nodeList);
    EXPECT_EQ(cacheOnly.request(0), nullptr);
}

TEST(FramePoolDelivery, OldestFirstAndZeroTimeout) {
    FramePool pool(cacheInfo(FrameType::DEPTH, 4, 4), FrameLayout{2, 4, 4});
    EXPECT_EQ(pool.request(0), nullptr);
    ASSERT_NE(deliver(pool, 1), nullptr);
    ASSERT_NE(deliver(pool, 2), nullptr);
    ASSERT_NE(deliver(pool, 3), nullptr);
    QuarvelFrameBuffer* first = pool.request(0);
    QuarvelFrameBuffer* second = pool.request(0);
    QuarvelFrameBuffer* third = pool.request(0);
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(timestampOf(first), 1u);
    EXPECT_EQ(timestampOf(second), 2u);
    EXPECT_EQ(timestampOf(third), 3u);
    EXPECT_EQ(pool.request(0), nullptr);
}

TEST(FramePoolDelivery, SlowUserLosesTheOldestFrame) {
    FramePool pool(cacheInfo(FrameType::DEPTH, 4, 4), FrameLayout{2, 4, 4});
    for (uint64_t t = 1; t <= 5; ++t) ASSERT_NE(deliver(pool, t), nullptr);
    EXPECT_EQ(timestampOf(pool.request(0)), 3u);
    EXPECT_EQ(timestampOf(pool.request(0)), 4u);
    EXPECT_EQ(timestampOf(pool.request(0)), 5u);
}

TEST(FramePoolDelivery, PositiveTimeoutWaitsAtLeastItsTime) {
    FramePool pool(cacheInfo(FrameType::DEPTH, 4, 4), FrameLayout{2, 4, 4});
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(pool.request(50), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
}

TEST(FramePoolDelivery, NegativeTimeoutWaitsForTheDeliveringThread) {
    FramePool pool(cacheInfo(FrameType::DEPTH, 4, 4), FrameLayout{2, 4, 4});
    std::thread producer([&pool] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        deliver(pool, 42);
    });
    QuarvelFrameBuffer* frame = pool.request(-1);
    producer.join();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(timestampOf(frame), 42u);
}

TEST(FramePoolRelease, ForeignDoubleAndQueuedBuffersAreRefused) {
    FramePool pool(cacheInfo(FrameType::DEPTH, 4, 4), FrameLayout{2, 4, 4});
    FramePool other(cacheInfo(FrameType::DEPTH, 4, 4), FrameLayout{2, 4, 4});
    deliver(pool, 1);
    deliver(pool, 2);
    deliver(other, 1);
    QuarvelFrameBuffer* frame = pool.request(0);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(pool.nodeList->isHeldByUser(frame));

    EXPECT_EQ(pool.release(nullptr), -1);
    EXPECT_EQ(pool.release(other.request(0)), -1);
    EXPECT_EQ(pool.release(frame), 0);
    EXPECT_FALSE(pool.nodeList->isHeldByUser(frame));
    EXPECT_EQ(pool.release(frame), -1);  // already free

    // A buffer still in the ready queue was never handed out: releasing it is refused.
    LinkNode* queued = nullptr;
    {
        MutexLock lock(pool.nodeList->mutex);
        queued = pool.nodeList->readyHead;
    }
    ASSERT_NE(queued, nullptr);
    EXPECT_EQ(pool.release(queued->buffer.get()), -1);

    // The free list holds each node once: three takes, then nothing.
    int taken = 0;
    while (pool.takeFree() != nullptr) ++taken;
    EXPECT_EQ(taken, 2);  // one node is still queued
}

TEST(FramePoolRelease, AllBuffersHeldMeansNoFrameUntilOneIsReleased) {
    FramePool pool(cacheInfo(FrameType::DEPTH, 4, 4), FrameLayout{2, 4, 4});
    for (uint64_t t = 1; t <= 3; ++t) deliver(pool, t);
    QuarvelFrameBuffer* held[3] = {pool.request(0), pool.request(0), pool.request(0)};
    EXPECT_EQ(pool.takeFree(), nullptr);
    EXPECT_EQ(pool.reclaimOldest(5), nullptr);
    EXPECT_EQ(deliver(pool, 4), nullptr);
    EXPECT_EQ(pool.request(20), nullptr);
    ASSERT_EQ(pool.release(held[1]), 0);
    ASSERT_NE(deliver(pool, 5), nullptr);
    QuarvelFrameBuffer* next = pool.request(0);
    EXPECT_EQ(next, held[1]);
    EXPECT_EQ(timestampOf(next), 5u);
}
