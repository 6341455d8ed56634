// Frame pool: building the buffers, and moving nodes between the lists and the hands.
#include "core/FramePool.h"

#include <chrono>

namespace Quarvel {

LinkNode* FrameNodeList::popFree() {
    std::lock_guard<std::mutex> lock(mutex);
    LinkNode* node = freeHead;
    if (node == nullptr) return nullptr;
    freeHead = node->next;
    node->next = nullptr;
    node->place = NodePlace::Capture;
    return node;
}

void FrameNodeList::pushReady(LinkNode* node) {
    std::lock_guard<std::mutex> lock(mutex);
    node->next = nullptr;
    node->place = NodePlace::Ready;
    if (readyTail == nullptr) {
        readyHead = node;
    } else {
        readyTail->next = node;
    }
    readyTail = node;
}

LinkNode* FrameNodeList::popReady(NodePlace takenBy) {
    std::lock_guard<std::mutex> lock(mutex);
    LinkNode* node = readyHead;
    if (node == nullptr) return nullptr;
    readyHead = node->next;
    if (readyHead == nullptr) readyTail = nullptr;
    node->next = nullptr;
    node->place = takenBy;
    return node;
}

int FrameNodeList::pushFree(LinkNode* node, NodePlace holder) {
    if (node == nullptr) return -1;
    bool member = false;
    for (const auto& owned : nodes) member = member || owned.get() == node;
    if (!member) return -1;
    std::lock_guard<std::mutex> lock(mutex);
    if (node->place != holder) return -1;  // already free, queued, or someone else's
    node->place = NodePlace::Free;
    node->next = freeHead;
    freeHead = node;
    return 0;
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
    std::lock_guard<std::mutex> lock(mutex);
    return node->place == NodePlace::User;
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
        node->next = list->freeHead;
        list->freeHead = node.get();
        list->nodes.push_back(std::move(node));
    }
    nodeList = std::move(list);
}

QuarvelFrameBuffer* FramePool::request(int timeoutMs) {
    if (!nodeList) return nullptr;
    {
        std::unique_lock<std::mutex> lock(mutex);
        const auto readyOrRetired = [this] { return readyCount > 0 || retired; };
        if (timeoutMs < 0) {
            ready.wait(lock, readyOrRetired);
        } else {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            if (!ready.wait_until(lock, deadline, readyOrRetired)) return nullptr;
        }
        if (retired) return nullptr;
        --readyCount;
    }
    // A lowered count always has a node behind it: nodes are queued before counted.
    LinkNode* node = nodeList->popReady(NodePlace::User);
    return node ? node->buffer.get() : nullptr;
}

void FramePool::retire() {
    std::lock_guard<std::mutex> lock(mutex);
    retired = true;
    ready.notify_all();
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
        std::unique_lock<std::mutex> lock(mutex);
        if (readyCount == 0) {
            ready.wait_for(lock, std::chrono::milliseconds(waitMs),
                           [this] { return readyCount > 0; });
        }
        if (readyCount <= 0) return nullptr;
        --readyCount;
    }
    return nodeList->popReady(NodePlace::Capture);
}

void FramePool::publish(LinkNode* node) {
    nodeList->pushReady(node);
    std::lock_guard<std::mutex> lock(mutex);
    if (readyCount <= readyLimit) {
        ++readyCount;
        ready.notify_all();
    }
}

void FramePool::giveBack(LinkNode* node) {
    if (nodeList) nodeList->pushFree(node, NodePlace::Capture);
}

}  // namespace Quarvel
