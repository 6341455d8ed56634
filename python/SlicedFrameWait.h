// Waiting for a frame with the interpreter lock released, in slices that take the lock back
// to run signal handlers. Free of Python itself: the lock is a parameter, so the same
// interleavings can be checked with a plain mutex in its place.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "core/QuarvelTOFCamera.h"

namespace Quarvel {
namespace python {

// Longest wait between two checks for pending signals.
constexpr int kSignalCheckIntervalMs = 100;

enum class WaitEnd {
    Frame,        // a frame of the current pool, handed out to the user
    NoFrame,      // the timeout passed, or the frame's pool was replaced during the wait
    Interrupted,  // a signal handler raised; no frame was taken
};

struct WaitResult {
    WaitEnd end = WaitEnd::NoFrame;
    QuarvelFrameBuffer* frame = nullptr;
};

// Waits up to timeoutMs (negative: without limit) for the camera's oldest ready frame.
// `Lock` is the interpreter lock, held on entry and on return:
//   lock.release() / lock.acquire()  let other threads run during a slice, and take it back;
//   lock.interrupted()               with the lock held: runs pending signal handlers, true
//                                    when one raised.
// While the lock is released other threads may stop, close, start or release frames: the
// core keeps the pool a slice waits on alive, and a frame whose pool was replaced before the
// lock came back is never touched (its memory may be gone) and counts as no frame. The
// camera itself must outlive the call (the caller holds a reference to its owner).
template <typename Lock>
WaitResult waitForFrameSliced(QuarvelTOFCamera& camera, int16_t timeoutMs, Lock& lock) {
    // Without a pool (never started) the core answers at once; timeout 0 never waits.
    if (camera.poolGeneration() == 0 || timeoutMs == 0) {
        QuarvelFrameBuffer* frame = camera.requestFrame(timeoutMs);
        return {frame != nullptr ? WaitEnd::Frame : WaitEnd::NoFrame, frame};
    }
    using Clock = std::chrono::steady_clock;
    const bool unlimited = timeoutMs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int slice = kSignalCheckIntervalMs;
        if (!unlimited) {
            const Clock::duration remaining = deadline - Clock::now();
            if (remaining <= Clock::duration::zero()) return {};
            // Round up so that the last slice reaches the deadline.
            const auto remainingMs =
                std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
            slice = static_cast<int>(std::min<int64_t>(remainingMs, slice));
        }
        uint64_t servedBy = 0;
        lock.release();
        QuarvelFrameBuffer* frame = camera.requestFrame(static_cast<int16_t>(slice), &servedBy);
        lock.acquire();
        // With the lock back no `start` can run: an unchanged generation means the frame's
        // pool is still the camera's and alive.
        if (frame != nullptr) {
            if (servedBy == camera.poolGeneration()) return {WaitEnd::Frame, frame};
            return {};
        }
        if (lock.interrupted()) return {WaitEnd::Interrupted, nullptr};
    }
}

}  // namespace python
}  // namespace Quarvel
