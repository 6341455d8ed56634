// Frame objects handed to Python: non-owning views of pool buffers that know when they expire.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "core/FrameBuffer.h"
#include "core/QuarvelTOFCamera.h"

namespace Quarvel {
namespace python {

class FrameView;

// What a Python camera shares with the frames it handed out. Frames hold the link, never
// the camera, so they do not keep it alive; the camera clears `camera` when it is destroyed.
// Touched only with the interpreter lock held.
struct CameraLink {
    QuarvelTOFCamera* camera = nullptr;
    // The live view of each buffer of the current pool, so that handing out a buffer again
    // returns the same Python object while that object is still referenced.
    std::unordered_map<const QuarvelFrameBuffer*, FrameView*> liveViews;
    uint64_t liveViewsGeneration = 0;  // pool generation the views belong to
};

// Bound as QuarvelFrame. A view is usable while its camera exists, still has the pool the
// view came from, and has the buffer handed out to the user; otherwise the buffer may be
// refilled by the capture thread or already freed.
class FrameView {
public:
    FrameView(QuarvelFrameBuffer* buffer, std::shared_ptr<CameraLink> link, uint64_t generation);
    virtual ~FrameView();
    FrameView(const FrameView&) = delete;
    FrameView& operator=(const FrameView&) = delete;

    // The buffer, or throws ValueError saying why the frame can no longer be used.
    QuarvelFrameBuffer& usableBuffer() const;
    // The buffer if it belongs to the current pool of the camera behind `link`, else null.
    // Released buffers are still returned: the core answers a second release itself.
    QuarvelFrameBuffer* bufferInPoolOf(const CameraLink& cameraLink) const;

private:
    QuarvelFrameBuffer* buffer;  // owned by the camera's frame pool
    std::shared_ptr<CameraLink> link;
    uint64_t generation;  // the camera's pool generation when the buffer was handed out
};

// Bound as RawData: a view of a core RawData buffer.
class RawFrameView : public FrameView {
public:
    using FrameView::FrameView;
};

// Bound as DepthData: a view of a core DepthData buffer.
class DepthFrameView : public FrameView {
public:
    using FrameView::FrameView;
};

// The view to hand out for `buffer`, which the camera behind `link` just handed out: the
// live view of that buffer if there is one, else a new view of the buffer's most derived
// class with a Python class. New views are owned by the caller (Python takes them over).
FrameView* viewForHandedOutBuffer(QuarvelFrameBuffer* buffer,
                                  const std::shared_ptr<CameraLink>& link);

}  // namespace python
}  // namespace Quarvel
