// Hundreds of thousands of frames from an unthrottled camera while the user requests,
// holds and releases frames at random, changes controls and restarts the stream, with the
// frame-rate adaptation running: every frame handed out is whole, new and handed out once.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <sstream>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "sdk/usb/quarvel_evk_sim.h"
#include "tests/stress/StressSupport.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    int64_t handedOut = 0, timeouts = 0, releases = 0, refusedReleases = 0;
    int64_t controlChanges = 0, restarts = 0, fullHandsChecks = 0;
};

}  // namespace

TEST(LongStream, EveryFrameHandedOutIsIntactWhileTheUserActsAtRandom) {
    const stress::ReplayedFrames expected;
    usbtest::ScratchDirectory scratch;
    QuarvelTOFCamera camera;
    const std::string description = scratch.write("camera.conf", stress::replayingHqvgaCamera());
    ASSERT_EQ(camera.openWithFile(description.c_str(), 0), 0);
    ASSERT_EQ(camera.getCameraInfo().device_type, HQVGA);
    int autoFrameRate = 0;
    ASSERT_EQ(camera.getControl(CameraCtrl::AUTO_FRAME_RATE, &autoFrameRate), 0);
    ASSERT_EQ(autoFrameRate, 1);  // the adaptation runs every 3 s throughout

    const int64_t target = stress::scaled(250000);
    const Clock::time_point began = Clock::now();
    // A bound for a machine far slower than expected; reaching it is reported, not failed.
    const Clock::time_point deadline = began + stress::scaledDuration(std::chrono::seconds(50));
    const int32_t streamedBefore = camera.frameCountDelivered();
    const auto streamed = [&] { return camera.frameCountDelivered() - streamedBefore; };

    std::mt19937 random(20261206);
    const auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    stress::DeliveryChecker checker(&expected);
    std::vector<QuarvelFrameBuffer*> held;
    Figures figures;
    int range = 4000;
    FrameType type = FrameType::DEPTH;
    ASSERT_EQ(camera.start(type), 0);
    checker.newStream(type);

    while (streamed() < target && Clock::now() < deadline && checker.faults.empty()) {
        // Mostly requests and releases, releasing the more likely the more frames are held
        // (a user holding two of the three buffers rarely wins the third from the capture
        // thread, which reclaims it); now and then a control change or a restart.
        int action = static_cast<int>(random() % 1000);
        if (action < 850) {
            action = chance(25 * static_cast<int>(held.size())) ? 500 : 0;
        }
        if (action < 500) {
            // With all three held nothing can come: do not wait for it. With two held the
            // third is mostly in the capture thread's hands: wait briefly.
            const int16_t timeout = held.size() == 3 || chance(25) ? 0
                                    : held.size() == 2 ? static_cast<int16_t>(random() % 3)
                                                       : static_cast<int16_t>(1 + random() % 20);
            QuarvelFrameBuffer* frame = camera.requestFrame(timeout);
            if (held.size() == 3) {
                // Every buffer is in the user's hands: nothing can be ready.
                ++figures.fullHandsChecks;
                ASSERT_EQ(frame, nullptr) << "a fourth frame while the user holds all three";
                continue;
            }
            if (frame == nullptr) {
                ++figures.timeouts;
                continue;
            }
            checker.handedOut(frame);
            held.push_back(frame);
            ++figures.handedOut;
        } else if (action < 850) {
            if (held.empty()) continue;
            const size_t index = random() % held.size();
            QuarvelFrameBuffer* frame = held[index];
            ASSERT_EQ(camera.releaseFrame(frame), 0);
            checker.released(frame);
            held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
            ++figures.releases;
            if (chance(10)) {
                ASSERT_EQ(camera.releaseFrame(frame), -1) << "a second release was accepted";
                ++figures.refusedReleases;
            }
        } else if (action < 999) {
            ++figures.controlChanges;
            switch (random() % 5) {
                case 0: {
                    range = chance(50) ? 2000 : 4000;
                    ASSERT_EQ(camera.setControl(CameraCtrl::RANGE, range), 0);
                    break;
                }
                case 1: {  // keep at least one frame of each cycle, so frames keep coming
                    const int loop = 1 + static_cast<int>(random() % 4);
                    const int skip = static_cast<int>(random() % static_cast<unsigned>(loop));
                    ASSERT_EQ(camera.setControl(CameraCtrl::SKIP_FRAME, 0), 0);
                    ASSERT_EQ(camera.setControl(CameraCtrl::SKIP_FRAME_LOOP, loop), 0);
                    ASSERT_EQ(camera.setControl(CameraCtrl::SKIP_FRAME, skip), 0);
                    break;
                }
                case 2: {  // the range the device answers is the one last set
                    int value = 0;
                    ASSERT_EQ(camera.getControl(CameraCtrl::RANGE, &value), 0);
                    ASSERT_EQ(value, range);
                    break;
                }
                case 3: {  // the adaptation's own calls, from the user's side
                    int value = -7;
                    ASSERT_EQ(camera.getControl(CameraCtrl::FRAME_RATE, &value),
                              QuarvelNotImplemented);
                    ASSERT_EQ(value, -7);
                    ASSERT_EQ(camera.setControl(CameraCtrl::FRAME_RATE, 30), QuarvelNotImplemented);
                    break;
                }
                default: {  // briefly off, back on: the adaptation keeps running
                    ASSERT_EQ(camera.setControl(CameraCtrl::AUTO_FRAME_RATE, 0), 0);
                    ASSERT_EQ(camera.setControl(CameraCtrl::AUTO_FRAME_RATE, 1), 0);
                    break;
                }
            }
        } else {
            // Restart with a random output type; every frame goes back first.
            for (QuarvelFrameBuffer* frame : held) ASSERT_EQ(camera.releaseFrame(frame), 0);
            held.clear();
            checker.forgetHeld();
            ASSERT_EQ(camera.stop(), 0);
            ASSERT_EQ(QuarvelSimFramesLent(), 0);
            type = chance(50) ? FrameType::RAW : FrameType::DEPTH;
            ASSERT_EQ(camera.start(type), 0);
            checker.newStream(type);
            ++figures.restarts;
        }
    }
    for (QuarvelFrameBuffer* frame : held) EXPECT_EQ(camera.releaseFrame(frame), 0);
    EXPECT_EQ(camera.stop(), 0);
    EXPECT_EQ(QuarvelSimFramesLent(), 0);
    EXPECT_EQ(camera.close(), 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();

    std::ostringstream line;
    line << "long stream: frames streamed " << streamed() << " (target " << target
         << "), handed out and checked " << checker.checked << ", timeouts " << figures.timeouts
         << ", releases " << figures.releases << " (+" << figures.refusedReleases
         << " second releases refused), control changes " << figures.controlChanges << ", restarts "
         << figures.restarts << ", all-held checks " << figures.fullHandsChecks << ", " << seconds
         << " s";
    stress::report(line.str());
    for (const std::string& fault : checker.faults) ADD_FAILURE() << fault;
    EXPECT_GT(checker.checked, 0);
}
