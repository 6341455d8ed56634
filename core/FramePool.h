// The frame pool of one stream: buffers, the raw cache, the free list and the ready queue.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/FrameBuffer.h"
#include "core/Types.h"

namespace Quarvel {

// Where a node is. Tracked so that a buffer can never be linked into a list twice.
enum class NodePlace : uint8_t {
    Free,     // on the free list
    Ready,    // in the ready queue
    Capture,  // in the capture thread's hands
    User,     // handed out by requestFrame, not yet released
};

struct LinkNode {
    LinkNode* next = nullptr;
    std::unique_ptr<QuarvelFrameBuffer> buffer;
    NodePlace place = NodePlace::Free;
};

// Free list (last in, first out) and ready queue (oldest first) of one pool.
class FrameNodeList {
public:
    // Each takes `mutex` for its own duration and clears the taken node's `next`.
    LinkNode* popFree();                    // -> place Capture
    void pushReady(LinkNode* node);         // -> place Ready
    LinkNode* popReady(NodePlace takenBy);  // oldest ready node -> place takenBy
    // Gives a node back: -1 unless it belongs to this list and is in `holder`'s hands.
    int pushFree(LinkNode* node, NodePlace holder);
    // The node whose buffer is `buffer`, or null. Reads only `nodes`, which never changes.
    LinkNode* findByBuffer(const QuarvelFrameBuffer* buffer) const;
    // True while `buffer` is handed out to the user and not yet released.
    bool isHeldByUser(const QuarvelFrameBuffer* buffer);

    LinkNode* freeHead = nullptr;
    LinkNode* readyHead = nullptr;
    LinkNode* readyTail = nullptr;
    std::vector<std::unique_ptr<LinkNode>> nodes;  // creation order; fixed after construction
    std::mutex mutex;  // guards freeHead, readyHead, readyTail, every node's next and place
};

class FramePool {
public:
    // cacheInfo.height already counts every sub-frame; cacheInfo.type picks the buffers
    // (RAW or DEPTH; any other type builds the cache only). Throws std::bad_alloc.
    FramePool(const CameraInfo& cacheInfo, const FrameLayout& layout);

    // Waits up to timeoutMs (negative: without limit) for a ready frame and hands it to
    // the user. Null at the timeout, when the pool has no buffers or once it is retired.
    // Caller's thread.
    QuarvelFrameBuffer* request(int timeoutMs);
    // Ends every wait in request() (they return null) and makes later requests return null
    // at once: called before the pool is replaced or destroyed, so that a thread blocked in
    // request() leaves it instead of waiting on a dead pool. Any thread.
    void retire();
    // Returns a buffer handed out by request(): 0, or -1 if it is not one of this pool's
    // buffers or is not in the user's hands. Caller's thread.
    int release(const QuarvelFrameBuffer* buffer);

    // Capture thread: a free node, or null.
    LinkNode* takeFree();
    // Capture thread: claims the oldest undelivered frame, waiting up to waitMs for one.
    LinkNode* reclaimOldest(int waitMs);
    // Capture thread: queues a filled node and wakes the takers.
    void publish(LinkNode* node);
    // Capture thread: gives back a node it holds (skipped or failed frame).
    void giveBack(LinkNode* node);

    uint8_t* cacheBytes() { return cache->data.get(); }
    size_t cacheSize() const { return cache->size(); }

    FrameLayout layout;
    std::unique_ptr<FrameNodeList> nodeList;
    std::unique_ptr<CacheData> cache;
    uint8_t bufferCount = 3;
    std::mutex mutex;               // guards readyCount, retired; never held with nodeList->mutex
    std::condition_variable ready;  // signalled (notify all) when readyCount grows or on retire
    int32_t readyCount = 0;         // frames in the ready queue not yet claimed
    int32_t readyLimit = 3;
    bool retired = false;  // set once by retire(); request() then hands out nothing
};

}  // namespace Quarvel
