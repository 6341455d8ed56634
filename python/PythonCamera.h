// The object behind a Python QuarvelCamera: the owned camera and the link its frames share.
#pragma once

#include <cstdint>
#include <memory>

#include "core/QuarvelTOFCamera.h"
#include "python/FrameViews.h"

namespace Quarvel {
namespace python {

// Owns one camera from construction to destruction. Every call runs on the Python thread
// that holds the interpreter lock; the lock is never released.
class PythonCamera {
public:
    PythonCamera();
    // Expires every frame this camera handed out, then destroys the camera (which stops a
    // running stream and closes it).
    ~PythonCamera();
    PythonCamera(const PythonCamera&) = delete;
    PythonCamera& operator=(const PythonCamera&) = delete;

    QuarvelTOFCamera& core() { return *camera; }

    // The oldest ready frame as a view (new, or the live view of that buffer), or null at
    // the timeout. Waits above 100 ms are cut into slices, and pending signals are
    // handled between slices: a raising handler (Ctrl-C) ends the wait with its exception
    // (thrown as pybind11::error_already_set), and no frame is taken.
    FrameView* requestFrame(int16_t timeoutMs);
    // Gives the frame's buffer back: the core's answer for a frame of the current pool,
    // -1 (as for any buffer not in the pool) for a frame of an older pool or another camera.
    int releaseFrame(const FrameView* frame);

private:
    QuarvelFrameBuffer* waitForFrame(int16_t timeoutMs);

    std::unique_ptr<QuarvelTOFCamera> camera;
    std::shared_ptr<CameraLink> link;
};

}  // namespace python
}  // namespace Quarvel
