// Through the camera on the simulated USB camera: every call of the stand-in SDK on the
// open, start, frame, stop and close paths fails in turn with each status it can return.
// Checked: the camera's statuses, no broken frame handed out, the SDK camera closed and
// every frame buffer handed back after close, and a camera that works again afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "sdk/usb/quarvel_evk_sdk.h"
#include "sdk/usb/quarvel_evk_sim.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/stress/StressSupport.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;

namespace {

constexpr int kFramesPerRun = 3;

struct LifecycleRun {
    int open = 99, start = 99, stop = 99, close = 99;
    int framesChecked = 0;
    std::vector<std::string> faults;
    int openCamerasAfterClose = -1;
    int lentAfterStop = -1;
    uint64_t callsOfFailing = 0;  // calls of the failing function during the run
};

// The camera's lifecycle, each step after the one before succeeded.
LifecycleRun runLifecycle(const std::string& description, const stress::ReplayedFrames& expected,
                          const char* failing) {
    LifecycleRun run;
    const uint64_t callsBefore = failing ? QuarvelSimCallCount(failing) : 0;
    testing::internal::CaptureStderr();
    {
        QuarvelTOFCamera camera;
        run.open = camera.openWithFile(description.c_str(), 0);
        if (run.open == 0) run.start = camera.start(FrameType::DEPTH);
        if (run.open == 0 && run.start == 0) {
            stress::DeliveryChecker checker(&expected);
            checker.newStream(FrameType::DEPTH);
            for (int frame = 0; frame < kFramesPerRun; ++frame) {
                QuarvelFrameBuffer* buffer = camera.requestFrame(5000);
                if (buffer == nullptr) {
                    run.faults.push_back("no frame");
                    break;
                }
                checker.handedOut(buffer);
                camera.releaseFrame(buffer);
                checker.released(buffer);
            }
            run.framesChecked = static_cast<int>(checker.checked);
            for (const std::string& fault : checker.faults) run.faults.push_back(fault);
            run.stop = camera.stop();
            run.lentAfterStop = QuarvelSimFramesLent();
        }
        run.close = camera.close();
        run.openCamerasAfterClose = QuarvelSimOpenCameras();
    }
    testing::internal::GetCapturedStderr();
    if (failing) run.callsOfFailing = QuarvelSimCallCount(failing) - callsBefore;
    return run;
}

struct Case {
    const char* function;
    std::vector<int> statuses;
    std::vector<unsigned> occurrences;  // which call of the run fails
    // Camera statuses when it fails: open, start (when open succeeded).
    int open, start;
};

}  // namespace

TEST(UsbSdkFaults, EverySdkCallFailsWithEachStatusAndTheCameraRecovers) {
    // The VGA device a zero-sized camera gets writes its files into the working directory.
    phase_test::TemporaryDirectory directory;
    phase_test::ScopedWorkingDirectory inDirectory(directory.path());
    usbtest::ScratchDirectory scratch;
    const std::string description = scratch.write("camera.conf", stress::replayingHqvgaCamera());
    const stress::ReplayedFrames expected;

    const LifecycleRun clean = runLifecycle(description, expected, nullptr);
    ASSERT_EQ(clean.open, 0);
    ASSERT_EQ(clean.start, 0);
    ASSERT_EQ(clean.framesChecked, kFramesPerRun);
    ASSERT_TRUE(clean.faults.empty()) << clean.faults.front();

    const Case cases[] = {
        // Unprepared parameters: the SDK refuses the open.
        {"QuarvelDefaultParam", {QUARVEL_EVK_ERROR}, {0}, -1, 0},
        {"QuarvelOpenCamera",
         {QUARVEL_EVK_ERROR, QUARVEL_EVK_BUSY, QUARVEL_EVK_NO_CAMERA},
         {0},
         -1,
         0},
        {"QuarvelInitCamera", {QUARVEL_EVK_ERROR, QUARVEL_EVK_NOT_READY}, {0}, -1, 0},
        // Its result is not read: a camera of no size gets the VGA device, whose raw frame
        // cannot fit, and start refuses.
        {"QuarvelGetCameraConfig", {QUARVEL_EVK_ERROR}, {0}, 0, -1},
        {"QuarvelStartCamera",
         {QUARVEL_EVK_ERROR, QUARVEL_EVK_BUSY, QUARVEL_EVK_NOT_READY},
         {0},
         0,
         -1},
        {"QuarvelCaptureImage",
         {QUARVEL_EVK_TIMEOUT, QUARVEL_EVK_CAPTURE_FAILED, QUARVEL_EVK_NO_BUFFER,
          QUARVEL_EVK_NOT_READY},
         {0, 1, 2, 3, 6},
         0,
         0},
        {"QuarvelFreeImage", {QUARVEL_EVK_ERROR}, {0, 5}, 0, 0},
        {"QuarvelStopCamera", {QUARVEL_EVK_ERROR}, {0}, 0, 0},
        {"QuarvelCloseCamera", {QUARVEL_EVK_ERROR}, {0}, 0, 0},
        // The range start writes back: ignored, the registers keep the range they had.
        {"QuarvelWriteSensorReg", {QUARVEL_EVK_ERROR}, {0, 3}, 0, 0},
    };
    int64_t injected = 0;
    for (const Case& c : cases) {
        struct Variant {
            int status;
            unsigned occurrence;
        };
        std::vector<Variant> variants;
        for (int status : c.statuses) {
            for (unsigned occurrence : c.occurrences) variants.push_back({status, occurrence});
        }
        // Below scale 1 a spread share of each function's variants, one at least.
        for (size_t index : stress::spreadSelection(variants.size())) {
            const int status = variants[index].status;
            const unsigned occurrence = variants[index].occurrence;
            {
                SCOPED_TRACE(testing::Message()
                             << c.function << " call " << occurrence << " fails with " << status);
                ASSERT_EQ(QuarvelSimFailCall(c.function, status, occurrence, 1), 0);
                const LifecycleRun run = runLifecycle(description, expected, c.function);
                QuarvelSimClearFailures();
                ++injected;
                ASSERT_GT(run.callsOfFailing, occurrence) << "the failing call was not made";

                EXPECT_EQ(run.open, c.open);
                if (run.open == 0) {
                    EXPECT_EQ(run.start, c.start);
                }
                if (run.start == 0) {
                    EXPECT_EQ(run.framesChecked, kFramesPerRun);
                    EXPECT_EQ(run.stop, 0);
                    // A refused hand-back keeps that one buffer lent until the SDK closes.
                    const bool freeFailed = std::strcmp(c.function, "QuarvelFreeImage") == 0;
                    EXPECT_EQ(run.lentAfterStop, freeFailed ? 1 : 0);
                }
                for (const std::string& fault : run.faults) ADD_FAILURE() << fault;
                EXPECT_EQ(run.close, 0);
                // A refused close is repeated by the camera's destruction.
                const bool closeFailed = std::strcmp(c.function, "QuarvelCloseCamera") == 0;
                EXPECT_EQ(run.openCamerasAfterClose, closeFailed ? 1 : 0);
                EXPECT_EQ(QuarvelSimOpenCameras(), 0);

                const LifecycleRun again = runLifecycle(description, expected, nullptr);
                EXPECT_EQ(again.open, 0);
                EXPECT_EQ(again.start, 0);
                EXPECT_EQ(again.framesChecked, kFramesPerRun) << "after the fault";
                for (const std::string& fault : again.faults) ADD_FAILURE() << "after: " << fault;
                EXPECT_EQ(again.openCamerasAfterClose, 0);
            }
        }
    }
    std::ostringstream line;
    line << "USB SDK faults: " << injected << " injected";
    stress::report(line.str());
}
