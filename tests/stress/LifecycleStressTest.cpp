// Start/stop cycles, and a camera stopped, restarted, closed or destroyed while another
// thread waits in requestFrame: the wait ends, nothing crashes, the camera still works.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "core/QuarvelTOFCamera.h"
#include "sdk/usb/quarvel_evk_sim.h"
#include "tests/stress/StressSupport.h"
#include "tests/support/Waits.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;

namespace {

constexpr int16_t kFrameTimeoutMs = 5000;

class ReplayingCamera : public testing::Test {
protected:
    std::unique_ptr<QuarvelTOFCamera> openCamera() {
        auto camera = std::make_unique<QuarvelTOFCamera>();
        EXPECT_EQ(camera->openWithFile(description.c_str(), 0), 0);
        return camera;
    }
    // Makes the capture thread drop every frame: a request can only time out.
    static void dropEveryFrame(QuarvelTOFCamera& camera) {
        ASSERT_EQ(camera.setControl(CameraCtrl::SKIP_FRAME_LOOP, 1), 0);
        ASSERT_EQ(camera.setControl(CameraCtrl::SKIP_FRAME, 1), 0);
    }
    static void keepEveryFrame(QuarvelTOFCamera& camera) {
        ASSERT_EQ(camera.setControl(CameraCtrl::SKIP_FRAME, 0), 0);
    }
    // One frame of the stream, checked against the frames the camera can deliver.
    void expectIntactFrame(QuarvelTOFCamera& camera, FrameType type) {
        stress::DeliveryChecker checker(&expected);
        checker.newStream(type);
        QuarvelFrameBuffer* frame = camera.requestFrame(kFrameTimeoutMs);
        ASSERT_NE(frame, nullptr);
        checker.handedOut(frame);
        EXPECT_EQ(camera.releaseFrame(frame), 0);
        for (const std::string& fault : checker.faults) ADD_FAILURE() << fault;
    }

    const stress::ReplayedFrames expected;
    usbtest::ScratchDirectory scratch;
    const std::string description = scratch.write("camera.conf", stress::replayingHqvgaCamera());
};

// The scheduler state of one of this process's threads ('R' running, 'S' sleeping, ...).
char threadState(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t end = line.rfind(')');  // the name in parentheses may hold anything
    return end != std::string::npos && end + 2 < line.size() ? line[end + 2] : '?';
}

// A thread blocked in requestFrame without limit, as a user's consumer thread would be.
// Constructed only once the thread sleeps: the wait on the pool is its only place to sleep.
class BlockedRequest {
public:
    explicit BlockedRequest(QuarvelTOFCamera& camera)
        : thread([this, &camera] {
              threadId.store(static_cast<pid_t>(syscall(SYS_gettid)));
              result.store(camera.requestFrame(-1));
          }) {
        // Bounded: a request that never blocks (or a thread that is gone) fails the test
        // instead of hanging it.
        int sleepingChecks = 0;
        EXPECT_TRUE(support::eventually([&] {
            const pid_t id = threadId.load();
            sleepingChecks = id != 0 && threadState(id) == 'S' ? sleepingChecks + 1 : 0;
            return sleepingChecks >= 2;
        })) << "the request never blocked";
    }
    // Joins the thread and returns what its request returned.
    QuarvelFrameBuffer* join() {
        thread.join();
        return result.load();
    }
    ~BlockedRequest() {
        if (thread.joinable()) thread.join();
    }

private:
    std::atomic<pid_t> threadId{0};
    std::atomic<QuarvelFrameBuffer*> result{nullptr};
    std::thread thread;
};

}  // namespace

TEST_F(ReplayingCamera, StartStopCyclesDeliverIntactFramesAndLeaveNothingLent) {
    auto camera = openCamera();
    std::mt19937 random(7);
    const int64_t cycles = stress::scaled(300);
    int64_t reopened = 0, heldAcrossStop = 0;
    for (int64_t cycle = 0; cycle < cycles && !HasFailure(); ++cycle) {
        const FrameType type = random() % 2 ? FrameType::RAW : FrameType::DEPTH;
        ASSERT_EQ(camera->start(type), 0) << "cycle " << cycle;
        EXPECT_EQ(camera->start(type), -1);  // refused while streaming, stream untouched
        QuarvelFrameBuffer* kept = nullptr;
        switch (random() % 3) {
            case 0:  // stop at once, before any frame
                break;
            case 1:
                expectIntactFrame(*camera, type);
                break;
            default:  // a frame held across stop stays valid until the next start
                kept = camera->requestFrame(kFrameTimeoutMs);
                ASSERT_NE(kept, nullptr);
                break;
        }
        ASSERT_EQ(camera->stop(), 0);
        EXPECT_EQ(QuarvelSimFramesLent(), 0);
        if (kept != nullptr) {
            stress::DeliveryChecker checker(&expected);
            checker.newStream(type);
            checker.handedOut(kept);  // still the frame it was
            for (const std::string& fault : checker.faults) ADD_FAILURE() << fault;
            EXPECT_EQ(camera->releaseFrame(kept), 0);
            ++heldAcrossStop;
        }
        if (random() % 40 == 0) {
            ASSERT_EQ(camera->close(), 0);
            camera = openCamera();
            ++reopened;
        }
    }
    ASSERT_EQ(camera->start(FrameType::DEPTH), 0);
    expectIntactFrame(*camera, FrameType::DEPTH);
    EXPECT_EQ(camera->close(), 0);
    std::ostringstream line;
    line << "start/stop cycles: " << cycles << " (frames held across stop " << heldAcrossStop
         << ", reopened " << reopened << ")";
    stress::report(line.str());
}

// Each way of pulling the pool from under a waiting thread, again and again: the wait ends
// with no frame. Without this the waiter sleeps on a destroyed condition variable.
TEST_F(ReplayingCamera, AWaitingRequestEndsWhenItsPoolIsReplacedOrDestroyed) {
    const int64_t rounds = stress::scaled(20);
    for (int64_t round = 0; round < rounds && !HasFailure(); ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        {  // stop and start again: the new pool delivers, the waiter on the old one leaves
            auto camera = openCamera();
            dropEveryFrame(*camera);
            ASSERT_EQ(camera->start(FrameType::DEPTH), 0);
            BlockedRequest waiter(*camera);
            ASSERT_EQ(camera->stop(), 0);
            ASSERT_EQ(camera->start(FrameType::RAW), 0);
            EXPECT_EQ(waiter.join(), nullptr);
            keepEveryFrame(*camera);
            expectIntactFrame(*camera, FrameType::RAW);
            EXPECT_EQ(camera->close(), 0);
        }
        {  // close (the wait goes on: close keeps the pool), then destroy
            auto camera = openCamera();
            dropEveryFrame(*camera);
            ASSERT_EQ(camera->start(FrameType::DEPTH), 0);
            BlockedRequest waiter(*camera);
            ASSERT_EQ(camera->close(), 0);
            camera.reset();
            EXPECT_EQ(waiter.join(), nullptr);
        }
        {  // destroyed while streaming, never closed
            auto camera = openCamera();
            dropEveryFrame(*camera);
            ASSERT_EQ(camera->start(FrameType::RAW), 0);
            BlockedRequest waiter(*camera);
            camera.reset();
            EXPECT_EQ(waiter.join(), nullptr);
        }
    }
    // The destroyed cameras closed the simulated camera: it opens again and streams.
    auto camera = openCamera();
    ASSERT_EQ(camera->start(FrameType::DEPTH), 0);
    expectIntactFrame(*camera, FrameType::DEPTH);
    EXPECT_EQ(camera->close(), 0);
    std::ostringstream line;
    line << "pool pulled from under a waiting request: " << rounds * 3 << " times";
    stress::report(line.str());
}

// A request with a timeout running while the camera closes: it ends with a frame or without,
// and the frames still ready after close can be taken and released.
TEST_F(ReplayingCamera, CloseWhileAnotherThreadRequestsFrames) {
    const int64_t rounds = stress::scaled(30);
    int64_t framesAfterClose = 0;
    for (int64_t round = 0; round < rounds && !HasFailure(); ++round) {
        auto camera = openCamera();
        ASSERT_EQ(camera->start(round % 2 ? FrameType::RAW : FrameType::DEPTH), 0);
        std::atomic<bool> closed{false};
        std::atomic<int> taken{0};
        std::thread consumer([&] {
            // Frames taken around the close go back; a request after it may still get a
            // frame that was ready.
            while (!closed.load()) {
                QuarvelFrameBuffer* frame = camera->requestFrame(20);
                if (frame != nullptr) {
                    taken.fetch_add(1);
                    EXPECT_EQ(camera->releaseFrame(frame), 0);
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + round % 7));
        ASSERT_EQ(camera->close(), 0);
        closed.store(true);
        consumer.join();
        while (QuarvelFrameBuffer* frame = camera->requestFrame(0)) {
            EXPECT_EQ(camera->releaseFrame(frame), 0);
            ++framesAfterClose;
        }
    }
    std::ostringstream line;
    line << "close while another thread requests: " << rounds << " rounds, " << framesAfterClose
         << " frames taken after close";
    stress::report(line.str());
}
