// Python camera: ownership, frame hand-out without holding up other threads, frame release.
#include "python/PythonCamera.h"

#include <pybind11/pybind11.h>

#include "python/SlicedFrameWait.h"

namespace Quarvel {
namespace python {

namespace {

// The interpreter lock as the sliced wait takes it: released around each slice so that other
// Python threads run, taken back to run signal handlers and to build the frame object.
class InterpreterLock {
public:
    void release() { state = PyEval_SaveThread(); }
    void acquire() {
        PyEval_RestoreThread(state);
        state = nullptr;
    }
    // Runs pending signal handlers; a raising one (Ctrl-C) leaves its exception set.
    bool interrupted() { return PyErr_CheckSignals() != 0; }

private:
    PyThreadState* state = nullptr;
};

}  // namespace

PythonCamera::PythonCamera()
    : camera(std::make_unique<QuarvelTOFCamera>()), link(std::make_shared<CameraLink>()) {
    link->camera = camera.get();
}

PythonCamera::~PythonCamera() {
    link->camera = nullptr;
    link->liveViews.clear();
    camera.reset();
}

FrameView* PythonCamera::requestFrame(int16_t timeoutMs) {
    InterpreterLock lock;
    const WaitResult result = waitForFrameSliced(*camera, timeoutMs, lock);
    if (result.end == WaitEnd::Interrupted) throw pybind11::error_already_set();
    if (result.frame == nullptr) return nullptr;
    return viewForHandedOutBuffer(result.frame, link);
}

int PythonCamera::releaseFrame(const FrameView* frame) {
    if (frame == nullptr) return camera->releaseFrame(nullptr);
    // A frame of an older pool points at freed memory, whose address a buffer of the
    // current pool may now have: it must never reach the core.
    QuarvelFrameBuffer* buffer = frame->bufferInPoolOf(*link);
    if (buffer == nullptr) return QuarvelUnkownError;
    return camera->releaseFrame(buffer);
}

}  // namespace python
}  // namespace Quarvel
