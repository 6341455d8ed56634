// The frame pool of one stream: buffers, the raw cache, the free list and the ready queue.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/FrameBuffer.h"
#include "core/ThreadSafety.h"
#include "core/Types.h"

namespace Quarvel {

// Where a node is. Tracked so that a buffer can never be linked into a list twice.
enum class NodePlace : uint8_t {
    Free,     // on the free list
    Ready,    // in the ready queue
    Capture,  // in the capture thread's hands
    User,     // handed out by requestFrame, not yet released
};

// `next` and `place` belong to the owning FrameNodeList's mutex: only the list touches them,
// through its accessors that require that lock.
struct LinkNode {
    LinkNode* next = nullptr;
    std::unique_ptr<QuarvelFrameBuffer> buffer;
    NodePlace place = NodePlace::Free;
};

// Free list (last in, first out) and ready queue (oldest first) of one pool.
class FrameNodeList {
public:
    // Each takes `mutex` for its own duration and clears the taken node's `next`.
    // Thread-safe.
    LinkNode* popFree() EXCLUDES(mutex);                    // -> place Capture
    void pushReady(LinkNode* node) EXCLUDES(mutex);         // -> place Ready
    LinkNode* popReady(NodePlace takenBy) EXCLUDES(mutex);  // oldest ready node -> takenBy
    // Gives a node back: -1 unless it belongs to this list and is in `holder`'s hands.
    int pushFree(LinkNode* node, NodePlace holder) EXCLUDES(mutex);
    // Builds the free list from `nodes` (every node free). Before the list is shared.
    void linkAllFree() EXCLUDES(mutex);
    // The node whose buffer is `buffer`, or null. Reads only `nodes`, which never changes.
    LinkNode* findByBuffer(const QuarvelFrameBuffer* buffer) const;
    // True while `buffer` is handed out to the user and not yet released. Thread-safe.
    bool isHeldByUser(const QuarvelFrameBuffer* buffer) EXCLUDES(mutex);

    Mutex mutex;  // guards freeHead, readyHead, readyTail, every node's next and place
    LinkNode* freeHead GUARDED_BY(mutex) = nullptr;
    LinkNode* readyHead GUARDED_BY(mutex) = nullptr;
    LinkNode* readyTail GUARDED_BY(mutex) = nullptr;
    std::vector<std::unique_ptr<LinkNode>> nodes;  // creation order; fixed after construction

private:
    // The only ways to a node's links, so that the analysis sees the lock on every use.
    LinkNode*& nextOf(LinkNode* node) REQUIRES(mutex) { return node->next; }
    NodePlace& placeOf(LinkNode* node) REQUIRES(mutex) { return node->place; }
};

class FramePool {
public:
    // cacheInfo.height already counts every sub-frame; cacheInfo.type picks the buffers
    // (RAW or DEPTH; any other type builds the cache only). Throws std::bad_alloc.
    FramePool(const CameraInfo& cacheInfo, const FrameLayout& layout);

    // Waits up to timeoutMs (negative: without limit) for a ready frame and hands it to
    // the user. Null at the timeout, when the pool has no buffers or once it is retired.
    // Caller's thread.
    QuarvelFrameBuffer* request(int timeoutMs) EXCLUDES(mutex);
    // Ends every wait in request() (they return null) and makes later requests return null
    // at once: called before the pool is replaced or destroyed, so that a thread blocked in
    // request() leaves it instead of waiting on a dead pool. Any thread.
    void retire() EXCLUDES(mutex);
    // Returns a buffer handed out by request(): 0, or -1 if it is not one of this pool's
    // buffers or is not in the user's hands. Caller's thread.
    int release(const QuarvelFrameBuffer* buffer);

    // Capture thread: a free node, or null.
    LinkNode* takeFree();
    // Capture thread: claims the oldest undelivered frame, waiting up to waitMs for one.
    LinkNode* reclaimOldest(int waitMs) EXCLUDES(mutex);
    // Capture thread: queues a filled node and wakes the takers.
    void publish(LinkNode* node) EXCLUDES(mutex);
    // Capture thread: gives back a node it holds (skipped or failed frame).
    void giveBack(LinkNode* node);

    uint8_t* cacheBytes() { return cache->data.get(); }
    size_t cacheSize() const { return cache->size(); }

    FrameLayout layout;
    std::unique_ptr<FrameNodeList> nodeList;
    std::unique_ptr<CacheData> cache;
    uint8_t bufferCount = 3;
    Mutex mutex;              // guards readyCount, retired; never held with nodeList->mutex
    ConditionVariable ready;  // signalled (notify all) when readyCount grows or on retire
    int32_t readyCount GUARDED_BY(mutex) = 0;  // frames in the ready queue not yet claimed
    int32_t readyLimit = 3;
    // The camera's pool generation this pool was built as; fixed before it is shared.
    uint64_t generation = 0;
    // Set once by retire(); request() then hands out nothing.
    bool retired GUARDED_BY(mutex) = false;
};

}  // namespace Quarvel
