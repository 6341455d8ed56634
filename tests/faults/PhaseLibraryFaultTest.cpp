// The VGA camera on the simulated USB camera with the stand-in phase library: every library
// call on the open, start, frame and close paths fails in turn. Checked: the camera's
// statuses, no frame from a failed computation, no library instance left after close, and
// true depth from a fresh camera once the fault is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "sdk/phase/si4c_sim.h"
#include "sdk/usb/quarvel_evk_sim.h"
#include "sim/scene/SimulatedCameraConfig.h"
#include "tests/phase/PhaseTestSupport.h"
#include "tests/stress/StressSupport.h"

using namespace Quarvel;

namespace {

constexpr const char* kWallCamera =
    "sensor = vga\nscene = wall\nwall_distance_mm = 1000\nnoise = off\npacing = replay\n";
constexpr int kFramesPerRun = 2;

struct LifecycleRun {
    int open = 99, setConfigDir = 99, setMode = 99, start = 99, stop = 99, close = 99;
    int framesChecked = 0;
    int liveInstancesAfterStart = -1;
    int liveInstancesAfterClose = -1;
    int openCamerasAfterClose = -1;
    double worstMedianErrorMm = 0;
    uint64_t callsOfFailing = 0;
};

// Median distance of the depth plane from the wall's ground truth, over pixels with depth.
double medianErrorMm(const float* depth, const std::vector<float>& truth) {
    std::vector<double> errors;
    errors.reserve(truth.size());
    for (size_t i = 0; i < truth.size(); ++i) {
        if (depth[i] > 0) errors.push_back(std::fabs(depth[i] - truth[i]));
    }
    if (errors.size() < truth.size() / 2) return 1e9;  // most pixels lost
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    return errors[errors.size() / 2];
}

class PhaseLibraryFaults : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(phase_test::writeFile(directory.file("camera.conf"), kWallCamera));
        // A calibration of zero offsets puts SiSDKSetCaliData on the start path.
        ASSERT_TRUE(phase_test::writeFile(
            directory.file("cali.bin"),
            phase_test::calibrationFile(640, 480, [](int, int, int) { return 0.0f; })));
        sim::SimulatedCameraConfig config;
        std::string error;
        ASSERT_TRUE(sim::SimulatedCameraConfig::parse(kWallCamera, config, error)) << error;
        const sim::GroundTruth truth = config.makeScene().render(config.imageGeometry());
        wallTruth.assign(truth.distanceMm.begin(), truth.distanceMm.end());
    }

    LifecycleRun runLifecycle(const char* failing) {
        LifecycleRun run;
        const uint64_t callsBefore = failing ? SiSimCallCount(failing) : 0;
        testing::internal::CaptureStderr();
        {
            QuarvelTOFCamera camera;
            run.open = camera.openWithFile(directory.file("camera.conf").c_str(), 0);
            if (run.open == 0) {
                // The library reads ConfigAlgorithm.json from here: the file start writes.
                run.setConfigDir =
                    camera.setControlExt(CameraCtrl::CONFIG_DIR_EXT, directory.path().c_str());
                run.setMode = camera.setControl(CameraCtrl::MODE, 0);
                run.start = camera.start(FrameType::DEPTH);
                run.liveInstancesAfterStart = SiSimLiveInstances();
            }
            if (run.open == 0 && run.start == 0) {
                for (int frame = 0; frame < kFramesPerRun; ++frame) {
                    QuarvelFrameBuffer* buffer = camera.requestFrame(10000);
                    if (buffer == nullptr) break;
                    run.worstMedianErrorMm = std::max(
                        run.worstMedianErrorMm,
                        medianErrorMm(static_cast<const float*>(buffer->getData(FrameType::DEPTH)),
                                      wallTruth));
                    camera.releaseFrame(buffer);
                    ++run.framesChecked;
                }
                run.stop = camera.stop();
            }
            run.close = camera.close();
            run.liveInstancesAfterClose = SiSimLiveInstances();
            run.openCamerasAfterClose = QuarvelSimOpenCameras();
        }
        testing::internal::GetCapturedStderr();
        if (failing) run.callsOfFailing = SiSimCallCount(failing) - callsBefore;
        return run;
    }

    void expectGoodRun(const LifecycleRun& run) {
        EXPECT_EQ(run.open, 0);
        EXPECT_EQ(run.start, 0);
        EXPECT_EQ(run.framesChecked, kFramesPerRun);
        EXPECT_LT(run.worstMedianErrorMm, 10.0);
        EXPECT_EQ(run.stop, 0);
        EXPECT_EQ(run.close, 0);
        EXPECT_EQ(run.liveInstancesAfterClose, 0);
        EXPECT_EQ(run.openCamerasAfterClose, 0);
    }

    phase_test::TemporaryDirectory directory;
    phase_test::ScopedWorkingDirectory inDirectory{directory.path()};
    std::vector<float> wallTruth;
};

}  // namespace

TEST_F(PhaseLibraryFaults, EveryLibraryCallFailsInTurnAndTheCameraRecovers) {
    const int liveBefore = SiSimLiveInstances();
    ASSERT_EQ(liveBefore, 0);
    expectGoodRun(runLifecycle(nullptr));

    struct Case {
        const char* function;
        unsigned occurrence;
        int open, start;  // camera statuses when it fails (start: when open succeeded)
        int liveAfterStart;
    };
    const Case cases[] = {
        {"SiSDKCreate", 0, -1, 99, -1},      // no instance: the device's open fails
        {"SiSDKInit", 0, 0, -1, 0},          // start fails and destroys the instance
        {"SiSDKSetCaliData", 0, 0, 0, 1},    // ignored: streams uncalibrated
        {"SiSDKSetConfig", 0, 0, 0, 1},      // ignored: the library keeps its parameters
        {"SiSDKStart", 0, 0, -1, 0},         // start fails and destroys the instance
        {"SiSDKGetPhaseImage", 0, 0, 0, 1},  // that frame is dropped, the next ones come
        {"SiSDKGetPhaseImage", 1, 0, 0, 1},
        {"SiSDKSetSingleFreq", 0, 0, 0, 1},  // ignored: the mode stays single frequency
    };
    int64_t injected = 0;
    const size_t caseCount = sizeof cases / sizeof cases[0];
    for (size_t index : stress::spreadSelection(caseCount, 3)) {
        const Case& c = cases[index];
        SCOPED_TRACE(testing::Message() << c.function << " call " << c.occurrence << " fails");
        ASSERT_EQ(SiSimFailCall(c.function, c.occurrence, 1), 0);
        const LifecycleRun run = runLifecycle(c.function);
        SiSimClearFailures();
        ++injected;
        ASSERT_GT(run.callsOfFailing, c.occurrence) << "the failing call was not made";
        EXPECT_EQ(run.open, c.open);
        if (run.open == 0) {
            EXPECT_EQ(run.setConfigDir, 0);
            EXPECT_EQ(run.setMode, 0);
            EXPECT_EQ(run.start, c.start);
            EXPECT_EQ(run.liveInstancesAfterStart, c.liveAfterStart);
        }
        if (run.start == 0) {
            EXPECT_EQ(run.framesChecked, kFramesPerRun);
            EXPECT_LT(run.worstMedianErrorMm, 10.0);
            EXPECT_EQ(run.stop, 0);
        }
        EXPECT_EQ(run.close, 0);
        EXPECT_EQ(run.liveInstancesAfterClose, 0);
        EXPECT_EQ(run.openCamerasAfterClose, 0);
        expectGoodRun(runLifecycle(nullptr));
    }
    std::ostringstream line;
    line << "phase library faults: " << injected << " injected";
    stress::report(line.str());
}
