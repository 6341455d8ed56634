// Handing frames to the user and taking them back.
#include "core/QuarvelTOFCamera.h"

namespace Quarvel {

QuarvelFrameBuffer* QuarvelTOFCamera::requestFrame(int16_t timeout) {
    return pool ? pool->request(timeout) : nullptr;
}

int QuarvelTOFCamera::releaseFrame(QuarvelFrameBuffer* frame) {
    return pool ? pool->release(frame) : -1;
}

bool QuarvelTOFCamera::isFrameHeld(const QuarvelFrameBuffer* frame) const {
    return pool && pool->nodeList && pool->nodeList->isHeldByUser(frame);
}

}  // namespace Quarvel
