// Frame views: expiry checks and the reuse of live views for buffers handed out again.
#include "python/FrameViews.h"

#include <pybind11/pybind11.h>

namespace Quarvel {
namespace python {

FrameView::FrameView(QuarvelFrameBuffer* frameBuffer, std::shared_ptr<CameraLink> cameraLink,
                     uint64_t poolGeneration)
    : buffer(frameBuffer), link(std::move(cameraLink)), generation(poolGeneration) {}

FrameView::~FrameView() {
    // A view of an older pool may share its buffer address with a live view of the
    // current pool: only remove the entry that is this view.
    auto found = link->liveViews.find(buffer);
    if (found != link->liveViews.end() && found->second == this) link->liveViews.erase(found);
}

QuarvelFrameBuffer& FrameView::usableBuffer() const {
    const QuarvelTOFCamera* camera = link->camera;
    if (camera == nullptr) {
        throw pybind11::value_error("frame is no longer valid: its camera was destroyed");
    }
    if (camera->poolGeneration() != generation) {
        throw pybind11::value_error(
            "frame is no longer valid: its camera was started again, which freed the frame");
    }
    if (!camera->isFrameHeld(buffer)) {
        throw pybind11::value_error("frame is no longer valid: it was released with releaseFrame");
    }
    return *buffer;
}

QuarvelFrameBuffer* FrameView::bufferInPoolOf(const CameraLink& cameraLink) const {
    if (link.get() != &cameraLink || cameraLink.camera == nullptr) return nullptr;
    if (cameraLink.camera->poolGeneration() != generation) return nullptr;
    return buffer;
}

FrameView* viewForHandedOutBuffer(QuarvelFrameBuffer* buffer,
                                  const std::shared_ptr<CameraLink>& link) {
    const uint64_t generation = link->camera->poolGeneration();
    if (link->liveViewsGeneration != generation) {
        // A new pool: views of the old one stay expired and are never handed out again.
        link->liveViews.clear();
        link->liveViewsGeneration = generation;
    }
    auto found = link->liveViews.find(buffer);
    if (found != link->liveViews.end()) return found->second;

    FrameView* view = nullptr;
    if (dynamic_cast<RawData*>(buffer) != nullptr) {
        view = new RawFrameView(buffer, link, generation);
    } else if (dynamic_cast<DepthData*>(buffer) != nullptr) {
        view = new DepthFrameView(buffer, link, generation);
    } else {
        view = new FrameView(buffer, link, generation);
    }
    link->liveViews[buffer] = view;
    return view;
}

}  // namespace python
}  // namespace Quarvel
