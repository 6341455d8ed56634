// Every system call of a whole transport lifecycle, made to fail one at a time on every
// board: the step it belongs to reports the right status, nothing crashes, and nothing stays
// open or mapped once the transport is closed. Below QUARVEL_STRESS_SCALE 1 (emulated and
// sanitizer runs) a share of the calls spread over the whole lifecycle.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>

#include "core/QuarvelTOFCamera.h"
#include "sensor/QuarvelTOFCSISensor.h"
#include "sensor/SimulatedBoardSwitch.h"
#include "tests/csi/CsiTestSupport.h"
#include "tests/support/StressScale.h"
#include "tests/support/Waits.h"

using namespace Quarvel;
using sim::BoardKind;
using sim::SimBoard;

namespace {

enum Step { Open, SetRange, SetFrameRate, Start, GetFrame, Stop, Close, kSteps };
const char* kStepNames[kSteps] = {
    "open", "setControl(RANGE)", "setControl(FRAME_RATE)", "start", "getFrame", "stop", "close"};

struct LifecycleRun {
    int status[kSteps] = {};
    size_t callsBefore[kSteps + 1] = {};  // trace length when each step began
};

// The lifecycle the camera drives, step by step, on a fresh board.
LifecycleRun runLifecycle(SimBoard& board, int failingCall) {
    LifecycleRun run;
    sim::SimKernel& kernel = board.kernel();
    if (failingCall >= 0) kernel.failCallNumber(static_cast<uint64_t>(failingCall), EIO);
    testing::internal::CaptureStderr();
    {
        QuarvelTOFCSISensor sensor(kernel, "/dev/video0", board.expectedModel());
        std::vector<uint8_t> frame(240 * 180 * 4 * 2);
        uint64_t timestamp = 0;
        CameraInfo info{};
        auto step = [&](Step which, const std::function<int()>& action) {
            run.callsBefore[which] = kernel.trace().size();
            run.status[which] = action();
        };
        step(Open, [&] { return sensor.open(info); });
        sensor.subframeCount = 4;
        step(SetRange, [&] { return sensor.setControl(CameraCtrl::RANGE, 4); });
        step(SetFrameRate, [&] { return sensor.setControl(CameraCtrl::FRAME_RATE, 30); });
        step(Start, [&] { return sensor.start(); });
        step(GetFrame, [&] { return sensor.getFrame(frame.data(), &timestamp); });
        step(Stop, [&] { return sensor.stop(); });
        step(Close, [&] { return sensor.close(); });
        run.callsBefore[kSteps] = kernel.trace().size();
    }
    testing::internal::GetCapturedStderr();
    return run;
}

Step stepOf(const LifecycleRun& clean, size_t call) {
    for (int step = kSteps - 1; step >= 0; --step) {
        if (call >= clean.callsBefore[step]) return static_cast<Step>(step);
    }
    return Open;
}

// A Jetson has no sensor subdevice: its range request fails even when nothing else does.
int cleanStatus(BoardKind kind, int step) {
    const bool jetson = kind != BoardKind::RaspberryPi4 && kind != BoardKind::RaspberryPi5 &&
                        kind != BoardKind::RadxaRock5b;
    return jetson && step == SetRange ? -1 : 0;
}

// What the step must report when `record`, one of its calls, fails with EIO.
int expectedStatus(Step step, const sim::CallRecord& record) {
    switch (step) {
        case Open:  // only the media node's close after the walk may fail harmlessly
            return record.call == sim::Call::Close ? 0 : -2;
        case SetRange:
            return -1;
        case Start:
            return record.request == VIDIOC_STREAMON ? -2 : -1;
        case Close:
            return 0;
        default:  // frame rate, getFrame, stop
            return -2;
    }
}

class FaultSweep : public testing::TestWithParam<BoardKind> {};

}  // namespace

TEST_P(FaultSweep, EverySystemCallOfTheLifecycleFailsCleanly) {
    auto cleanBoard = SimBoard::of(GetParam()).paced(false).build();
    const LifecycleRun clean = runLifecycle(*cleanBoard, -1);
    for (int step = 0; step < kSteps; ++step) {
        ASSERT_EQ(clean.status[step], cleanStatus(GetParam(), step)) << kStepNames[step];
    }
    const std::vector<sim::CallRecord> calls = cleanBoard->kernel().trace();
    ASSERT_GT(calls.size(), 30u);

    for (size_t call : stress::spreadSelection(calls.size(), kSteps * 2)) {
        const sim::CallRecord& record = calls[call];
        const Step step = stepOf(clean, call);
        SCOPED_TRACE(testing::Message() << "call " << call << " " << sim::callName(record.call)
                                        << " 0x" << std::hex << record.request << std::dec << " "
                                        << record.path << " in " << kStepNames[step]);
        auto board = SimBoard::of(GetParam()).paced(false).build();
        const LifecycleRun failed = runLifecycle(*board, static_cast<int>(call));
        EXPECT_EQ(failed.status[step], expectedStatus(step, record));
        for (int earlier = 0; earlier < step; ++earlier) {
            EXPECT_EQ(failed.status[earlier], cleanStatus(GetParam(), earlier));
        }
        EXPECT_EQ(failed.status[Close], 0);
        EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
        EXPECT_EQ(board->kernel().mappingCount(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, FaultSweep, testing::ValuesIn(SimBoard::allKinds()),
                         [](const testing::TestParamInfo<BoardKind>& info) {
                             return std::string(SimBoard::nameOf(info.param));
                         });

// Through the camera: a failing call in its start reports the transport's status, and the
// camera's close leaves nothing behind.
TEST(CameraFaultSweep, EveryCallOfTheCameraStartFailsCleanly) {
    auto cleanBoard = SimBoard::raspberryPi5().paced(true).build();
    SeamComponents cleanComponents(cleanBoard->kernel());
    std::vector<sim::CallRecord> calls;
    {
        QuarvelTOFCamera camera(cleanComponents);
        ASSERT_EQ(camera.open(Connection::CSI, 0), 0);
        cleanBoard->kernel().clearTrace();
        ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
        // Only the start's own calls: the capture thread's come after STREAMON.
        for (const sim::CallRecord& record : cleanBoard->kernel().trace()) {
            calls.push_back(record);
            if (record.request == VIDIOC_STREAMON) break;
        }
        camera.stop();
        camera.close();
    }
    for (size_t call : stress::spreadSelection(calls.size(), kSteps * 2)) {
        const sim::CallRecord& record = calls[call];
        SCOPED_TRACE(testing::Message() << "call " << call << " " << sim::callName(record.call)
                                        << " 0x" << std::hex << record.request);
        auto board = SimBoard::raspberryPi5().paced(true).build();
        SeamComponents components(board->kernel());
        {
            QuarvelTOFCamera camera(components);
            ASSERT_EQ(camera.open(Connection::CSI, 0), 0);
            board->kernel().failCallNumber(call, EIO);
            testing::internal::CaptureStderr();
            const int status = camera.start(FrameType::DEPTH);
            testing::internal::GetCapturedStderr();
            // The range written back at start is best effort; everything else counts.
            const int expected = record.request == VIDIOC_S_CTRL     ? 0
                                 : record.request == VIDIOC_STREAMON ? -2
                                                                     : -1;
            EXPECT_EQ(status, expected);
            if (status == 0) {
                EXPECT_NE(camera.requestFrame(support::kFrameArrivalMs), nullptr);
                EXPECT_EQ(camera.stop(), 0);
            }
            EXPECT_EQ(camera.close(), 0);
        }
        EXPECT_EQ(board->kernel().openDescriptorCount(), 0);
        EXPECT_EQ(board->kernel().mappingCount(), 0u);
    }
}
