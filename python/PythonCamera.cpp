// Python camera: ownership, frame hand-out with signal checks, and frame release.
#include "python/PythonCamera.h"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <chrono>

namespace Quarvel {
namespace python {

namespace {
// Longest wait between two checks for pending signals.
constexpr int kSignalCheckIntervalMs = 100;
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

QuarvelFrameBuffer* PythonCamera::waitForFrame(int16_t timeoutMs) {
    // Without a pool (never started) the core answers at once whatever the timeout.
    if (camera->poolGeneration() == 0 || (timeoutMs >= 0 && timeoutMs <= kSignalCheckIntervalMs)) {
        return camera->requestFrame(timeoutMs);
    }
    using Clock = std::chrono::steady_clock;
    const bool unlimited = timeoutMs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int slice = kSignalCheckIntervalMs;
        if (!unlimited) {
            const Clock::duration remaining = deadline - Clock::now();
            if (remaining <= Clock::duration::zero()) return nullptr;
            // Round up so that the last slice reaches the deadline.
            const auto remainingMs =
                std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
            slice = static_cast<int>(std::min<int64_t>(remainingMs, slice));
        }
        QuarvelFrameBuffer* frame = camera->requestFrame(static_cast<int16_t>(slice));
        if (frame != nullptr) return frame;
        // Runs Python signal handlers; KeyboardInterrupt comes back as an error here.
        if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
    }
}

FrameView* PythonCamera::requestFrame(int16_t timeoutMs) {
    QuarvelFrameBuffer* buffer = waitForFrame(timeoutMs);
    if (buffer == nullptr) return nullptr;
    return viewForHandedOutBuffer(buffer, link);
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
