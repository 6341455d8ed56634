// Frame pool: building the buffers, and moving nodes between the lists and the hands.
#include "core/FramePool.h"

#include <chrono>

namespace Quarvel {

LinkNode* FrameNodeList::popFree() {
    MutexLock lock(mutex);
    LinkNode* node = freeHead;
    if (node == nullptr) return nullptr;
    freeHead = nextOf(node);
    nextOf(node) = nullptr;
    placeOf(node) = NodePlace::Capture;
    return node;
}

void FrameNodeList::pushReady(LinkNode* node) {
    MutexLock lock(mutex);
    nextOf(node) = nullptr;
    placeOf(node) = NodePlace::Ready;
    if (readyTail == nullptr) {
        readyHead = node;
    } else {
        nextOf(readyTail) = node;
    }
    readyTail = node;
}

LinkNode* FrameNodeList::popReady(NodePlace takenBy) {
    MutexLock lock(mutex);
    LinkNode* node = readyHead;
    if (node == nullptr) return nullptr;
    readyHead = nextOf(node);
    if (readyHead == nullptr) readyTail = nullptr;
    nextOf(node) = nullptr;
    placeOf(node) = takenBy;
    return node;
}

int FrameNodeList::pushFree(LinkNode* node, NodePlace holder) {
    if (node == nullptr) return -1;
    bool member = false;
    for (const auto& owned : nodes) member = member || owned.get() == node;
    if (!member) return -1;
    MutexLock lock(mutex);
    if (placeOf(node) != holder) return -1;  // already free, queued, or someone else's
    placeOf(node) = NodePlace::Free;
    nextOf(node) = freeHead;
    freeHead = node;
    return 0;
}

void FrameNodeList::linkAllFree() {
    MutexLock lock(mutex);
    freeHead = nullptr;
    readyHead = nullptr;
    readyTail = nullptr;
    for (const auto& node : nodes) {
        placeOf(node.get()) = NodePlace::Free;
        nextOf(node.get()) = freeHead;
        freeHead = node.get();
    }
}

LinkNode* FrameNodeList::findByBuffer(const QuarvelFrameBuffer* buffer) const {
    if (buffer == nullptr) return nullptr;
    for (const auto& node : nodes) {
        if (node->buffer.get() == buffer) return node.get();
    }
    return nullptr;
}

bool FrameNodeList::isHeldByUser(const QuarvelFrameBuffer* buffer) {
    LinkNode* node = findByBuffer(buffer);
    if (node == nullptr) return false;
    MutexLock lock(mutex);
    return placeOf(node) == NodePlace::User;
}

FramePool::FramePool(const CameraInfo& cacheInfo, const FrameLayout& frameLayout)
    : layout(frameLayout) {
    cache = std::make_unique<CacheData>(cacheInfo.width, cacheInfo.height);
    const auto width = static_cast<uint32_t>(frameLayout.width);
    const auto height = static_cast<uint32_t>(frameLayout.height);
    if (cacheInfo.type != FrameType::RAW && cacheInfo.type != FrameType::DEPTH) return;
    auto list = std::make_unique<FrameNodeList>();
    list->nodes.reserve(bufferCount);
    for (int i = 0; i < bufferCount; ++i) {
        auto node = std::make_unique<LinkNode>();
        if (cacheInfo.type == FrameType::RAW) {
            node->buffer = std::make_unique<RawData>(width, height);
        } else {
            node->buffer = std::make_unique<DepthData>(width, height);
        }
        list->nodes.push_back(std::move(node));
    }
    list->linkAllFree();  // each new node at the head: the last built is taken first
    nodeList = std::move(list);
}

QuarvelFrameBuffer* FramePool::request(int timeoutMs) {
    if (!nodeList) return nullptr;
    {
        MutexLock lock(mutex);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        // Spurious wake-ups wait again, up to the one deadline.
        while (readyCount <= 0 && !retired) {
            if (timeoutMs < 0) {
                ready.wait(lock);
            } else if (!ready.waitUntil(lock, deadline)) {
                break;
            }
        }
        if (retired || readyCount <= 0) return nullptr;
        --readyCount;
    }
    // A lowered count always has a node behind it: nodes are queued before counted.
    LinkNode* node = nodeList->popReady(NodePlace::User);
    return node ? node->buffer.get() : nullptr;
}

void FramePool::retire() {
    MutexLock lock(mutex);
    retired = true;
    ready.notifyAll();
}

int FramePool::release(const QuarvelFrameBuffer* buffer) {
    if (!nodeList) return -1;
    LinkNode* node = nodeList->findByBuffer(buffer);
    if (node == nullptr) return -1;
    return nodeList->pushFree(node, NodePlace::User);
}

LinkNode* FramePool::takeFree() { return nodeList ? nodeList->popFree() : nullptr; }

LinkNode* FramePool::reclaimOldest(int waitMs) {
    if (!nodeList) return nullptr;
    {
        MutexLock lock(mutex);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (readyCount <= 0) {
            if (!ready.waitUntil(lock, deadline)) break;
        }
        if (readyCount <= 0) return nullptr;
        --readyCount;
    }
    return nodeList->popReady(NodePlace::Capture);
}

void FramePool::publish(LinkNode* node) {
    nodeList->pushReady(node);
    MutexLock lock(mutex);
    if (readyCount <= readyLimit) {
        ++readyCount;
        ready.notifyAll();
    }
}

void FramePool::giveBack(LinkNode* node) {
    if (nodeList) nodeList->pushFree(node, NodePlace::Capture);
}

}  // namespace Quarvel
