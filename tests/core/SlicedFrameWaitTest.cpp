// The Python module's frame wait, with a plain mutex standing in for the interpreter lock:
// other threads run while it waits, and stop, close, start or a release from another thread
// in the middle of a wait leave it safe. Run under ThreadSanitizer too (area core), which the
// Python suite cannot be, the interpreter not being instrumented.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "python/SlicedFrameWait.h"
#include "tests/support/ScriptedComponents.h"
#include "tests/support/Waits.h"

using namespace Quarvel;
using python::WaitEnd;
using python::WaitResult;

namespace {

// The interpreter lock's stand-in. `beforeAcquire` runs once, in the waiting thread, just
// before it takes the lock back: the moment another thread that got the lock first acts.
struct StandInLock {
    std::mutex mutex;
    std::function<void()> beforeAcquire;
    int interruptAtCheck = -1;  // the signal check that reports a raising handler
    int checks = 0;

    void release() { mutex.unlock(); }
    void acquire() {
        if (beforeAcquire) {
            const std::function<void()> hook = std::move(beforeAcquire);
            beforeAcquire = nullptr;
            hook();
        }
        mutex.lock();
    }
    bool interrupted() { return ++checks == interruptAtCheck; }
};

// Waits as a Python thread does: holding the lock on entry and on return.
WaitResult waitHoldingTheLock(QuarvelTOFCamera& camera, int16_t timeoutMs, StandInLock& lock) {
    std::lock_guard<std::mutex> held(lock.mutex);
    return python::waitForFrameSliced(camera, timeoutMs, lock);
}

struct Rig : support::CameraRig {
    Rig() {
        EXPECT_EQ(openUsb(), 0);
        camera->setControl(CameraCtrl::AUTO_FRAME_RATE, 0);
    }
    // Every frame read is dropped: nothing becomes ready until dropping stops.
    void dropEveryFrame(bool drop) {
        EXPECT_EQ(camera->setControl(CameraCtrl::SKIP_FRAME, drop ? 1 : 0), 0);
    }
};

}  // namespace

// Another thread that needs the lock runs while a wait is in progress: here it is the one
// that ends the wait, which could never happen if the wait kept the lock.
TEST(SlicedFrameWait, OtherThreadsTakeTheLockDuringTheWait) {
    Rig rig;
    rig.dropEveryFrame(true);
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    StandInLock lock;
    std::atomic<bool> waiting{false};
    std::thread other([&] {
        ASSERT_TRUE(support::eventually([&] { return waiting.load(); }));
        std::lock_guard<std::mutex> held(lock.mutex);
        rig.dropEveryFrame(false);
    });
    waiting = true;
    const WaitResult result = waitHoldingTheLock(*rig.camera, support::kFrameArrivalMs, lock);
    other.join();
    ASSERT_EQ(result.end, WaitEnd::Frame);
    EXPECT_TRUE(rig.camera->isFrameHeld(result.frame));
    EXPECT_EQ(rig.camera->stop(), 0);
}

// Stop, close and start by another thread while one waits, in a loop so that the calls fall
// at different points of the wait: every frame handed out belongs to the current pool.
TEST(SlicedFrameWait, StopCloseAndStartDuringAWaitNeverHandOutAStaleFrame) {
    Rig rig;
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    StandInLock lock;
    std::atomic<bool> done{false};
    std::thread other([&] {
        for (int cycle = 0; cycle < 20; ++cycle) {
            std::lock_guard<std::mutex> held(lock.mutex);
            EXPECT_EQ(rig.camera->stop(), 0);
            if (cycle % 5 == 4) {
                EXPECT_EQ(rig.camera->close(), 0);
                EXPECT_EQ(rig.openUsb(), 0);
            }
            EXPECT_EQ(rig.camera->start(cycle % 2 ? FrameType::RAW : FrameType::DEPTH), 0);
        }
        done = true;
    });
    int frames = 0;
    while (!done) {
        const WaitResult result = waitHoldingTheLock(*rig.camera, 200, lock);
        if (result.end != WaitEnd::Frame) continue;
        std::lock_guard<std::mutex> held(lock.mutex);
        // Checked with the lock held, so no start can come in between.
        EXPECT_TRUE(rig.camera->isFrameHeld(result.frame));
        EXPECT_EQ(rig.camera->releaseFrame(result.frame), 0);
        ++frames;
    }
    other.join();
    const WaitResult last = waitHoldingTheLock(*rig.camera, support::kFrameArrivalMs, lock);
    ASSERT_EQ(last.end, WaitEnd::Frame);
    EXPECT_TRUE(rig.camera->isFrameHeld(last.frame));
    EXPECT_EQ(rig.camera->stop(), 0);
}

// A frame taken just before another thread replaced the pool (its buffers freed with it) is
// never handed out: the wait sees the new generation when it has the lock back.
TEST(SlicedFrameWait, FrameWhosePoolWasReplacedBeforeTheLockCameBackIsNotHandedOut) {
    Rig rig;
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    StandInLock lock;
    lock.beforeAcquire = [&] {
        std::lock_guard<std::mutex> held(lock.mutex);
        EXPECT_EQ(rig.camera->stop(), 0);
        EXPECT_EQ(rig.camera->start(FrameType::RAW), 0);
    };
    const WaitResult result = waitHoldingTheLock(*rig.camera, support::kFrameArrivalMs, lock);
    EXPECT_EQ(result.end, WaitEnd::NoFrame);
    EXPECT_EQ(result.frame, nullptr);
    // The new stream serves the next wait.
    const WaitResult next = waitHoldingTheLock(*rig.camera, support::kFrameArrivalMs, lock);
    ASSERT_EQ(next.end, WaitEnd::Frame);
    EXPECT_NE(next.frame->getData(FrameType::RAW), nullptr);
    EXPECT_EQ(rig.camera->stop(), 0);
}

// A release by another thread frees a buffer for a waiter while the user holds all three.
TEST(SlicedFrameWait, ReleaseByAnotherThreadLetsTheWaitEndWithAFrame) {
    Rig rig;
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    QuarvelFrameBuffer* held[3];
    for (auto& frame : held) {
        frame = rig.camera->requestFrame(support::kFrameArrivalMs);
        ASSERT_NE(frame, nullptr);
    }
    StandInLock lock;
    std::atomic<bool> waiting{false};
    std::thread other([&] {
        ASSERT_TRUE(support::eventually([&] { return waiting.load(); }));
        std::lock_guard<std::mutex> guard(lock.mutex);
        EXPECT_EQ(rig.camera->releaseFrame(held[0]), 0);
    });
    waiting = true;
    const WaitResult result = waitHoldingTheLock(*rig.camera, support::kFrameArrivalMs, lock);
    other.join();
    ASSERT_EQ(result.end, WaitEnd::Frame);
    EXPECT_EQ(result.frame, held[0]);
    EXPECT_EQ(rig.camera->stop(), 0);
}

// A raising signal handler ends the wait at its check and takes no frame; a handler that
// does not raise lets the wait go on. Timeout 0 and a camera never started do not wait.
TEST(SlicedFrameWait, InterruptEndsTheWaitWithoutTakingAFrame) {
    Rig rig;
    rig.dropEveryFrame(true);
    ASSERT_EQ(rig.camera->start(FrameType::DEPTH), 0);
    StandInLock lock;
    lock.interruptAtCheck = 3;
    const WaitResult interrupted = waitHoldingTheLock(*rig.camera, -1, lock);
    EXPECT_EQ(interrupted.end, WaitEnd::Interrupted);
    EXPECT_EQ(interrupted.frame, nullptr);
    EXPECT_EQ(lock.checks, 3);

    rig.dropEveryFrame(false);
    ASSERT_TRUE(support::eventually([&] { return rig.camera->frameCountDelivered() > 0; }));
    lock.checks = 0;
    lock.interruptAtCheck = -1;
    const WaitResult immediate = waitHoldingTheLock(*rig.camera, 0, lock);
    ASSERT_EQ(immediate.end, WaitEnd::Frame);
    EXPECT_EQ(lock.checks, 0);
    EXPECT_EQ(rig.camera->stop(), 0);

    Rig neverStarted;
    EXPECT_EQ(waitHoldingTheLock(*neverStarted.camera, 5000, lock).end, WaitEnd::NoFrame);
}
