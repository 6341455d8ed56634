// Handing frames to the user and taking them back.
#include "core/QuarvelTOFCamera.h"

namespace Quarvel {

std::shared_ptr<FramePool> QuarvelTOFCamera::currentPool() const {
    MutexLock lock(poolPointerMutex);
    return pool;
}

void QuarvelTOFCamera::replacePool(std::shared_ptr<FramePool> next) {
    std::shared_ptr<FramePool> previous;
    {
        MutexLock lock(poolPointerMutex);
        previous = std::move(pool);
        pool = std::move(next);
    }
    // A thread still waiting on the old pool holds it; it leaves with no frame.
    if (previous) previous->retire();
}

QuarvelFrameBuffer* QuarvelTOFCamera::requestFrame(int16_t timeout) {
    uint64_t servingPoolGeneration = 0;
    return requestFrame(timeout, &servingPoolGeneration);
}

QuarvelFrameBuffer* QuarvelTOFCamera::requestFrame(int16_t timeout,
                                                   uint64_t* servingPoolGeneration) {
    const std::shared_ptr<FramePool> current = currentPool();
    if (!current) return nullptr;
    // Touches no member after the wait: the camera may be gone by then.
    QuarvelFrameBuffer* frame = current->request(timeout);
    if (frame != nullptr) *servingPoolGeneration = current->generation;
    return frame;
}

int QuarvelTOFCamera::releaseFrame(QuarvelFrameBuffer* frame) {
    const std::shared_ptr<FramePool> current = currentPool();
    return current ? current->release(frame) : -1;
}

bool QuarvelTOFCamera::isFrameHeld(const QuarvelFrameBuffer* frame) const {
    const std::shared_ptr<FramePool> current = currentPool();
    return current && current->nodeList && current->nodeList->isHeldByUser(frame);
}

}  // namespace Quarvel
