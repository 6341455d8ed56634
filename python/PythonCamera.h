// The object behind a Python QuarvelCamera: the owned camera and the link its frames share.
#pragma once

#include <cstdint>
#include <memory>

#include "core/QuarvelTOFCamera.h"
#include "python/FrameViews.h"

namespace Quarvel {
namespace python {

// Owns one camera from construction to destruction. Every call runs with the interpreter
// lock held, except the wait inside requestFrame, which lets other Python threads run.
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
    // the timeout. The wait releases the interpreter lock, taking it back at least every
    // 100 ms to run pending signal handlers: a raising handler (Ctrl-C) ends the wait with
    // its exception (thrown as pybind11::error_already_set), and no frame is taken. Other
    // threads may stop, close, start or release frames meanwhile; a frame whose pool a
    // `start` replaced during the wait is not handed out (null).
    FrameView* requestFrame(int16_t timeoutMs);
    // Gives the frame's buffer back: the core's answer for a frame of the current pool,
    // -1 (as for any buffer not in the pool) for a frame of an older pool or another camera.
    int releaseFrame(const FrameView* frame);

private:
    std::unique_ptr<QuarvelTOFCamera> camera;
    std::shared_ptr<CameraLink> link;
};

}  // namespace python
}  // namespace Quarvel
