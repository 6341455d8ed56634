// Through the camera on a simulated Raspberry Pi 5: every system call of open, a control
// read, start, stop and close fails in turn with each errno it can plausibly return, and so
// does the capture thread's dequeue and queue. Checked: the status each step returns, the
// retry rule (EINTR, EAGAIN, ETIMEDOUT repeated up to five attempts on V4L2 and media
// requests), no frame handed out from a broken read, nothing left open or mapped after close,
// and a camera that works again, with correct depth, once the fault is gone.
#include <gtest/gtest.h>
#include <linux/media.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "sensor/SimulatedBoardSwitch.h"
#include "sim/kernel/SimBoard.h"
#include "tests/csi/CsiTestSupport.h"
#include "tests/stress/StressSupport.h"

using namespace Quarvel;
using sim::Call;
using sim::CallRecord;

namespace {

enum Phase { Open, ReadControl, Start, Frame, Stop, Close, kPhases };
const char* const kPhaseNames[kPhases] = {"open", "getControl(EXPOSURE)", "start", "frame", "stop",
                                          "close"};

struct LifecycleRun {
    int status[kPhases] = {};
    bool reached[kPhases] = {};
    size_t traceAt[kPhases + 1] = {};  // trace length when each phase began
    std::string frameFault;            // what was wrong with the frame, if anything
};

bool isCaptureCall(const CallRecord& record) {
    return record.call == Call::Ioctl &&
           (record.request == VIDIOC_DQBUF || record.request == VIDIOC_QBUF);
}

// One frame from the camera: must come, carry a timestamp and show the scene's depth.
std::string checkOneFrame(QuarvelTOFCamera& camera, sim::SimBoard& board) {
    QuarvelFrameBuffer* frame = camera.requestFrame(5000);
    if (frame == nullptr) return "no frame";
    FrameDataFormat format{};
    frame->getFormat(FrameType::DEPTH, format);
    const csitest::DepthCheck check = csitest::checkHqvgaDepth(
        board, static_cast<const float*>(frame->getData(FrameType::DEPTH)), false);
    camera.releaseFrame(frame);
    std::ostringstream fault;
    if (format.timestamp == 0) fault << "frame without timestamp; ";
    if (!check.matchesScene()) {
        fault << "depth off the scene: median " << check.medianRelativeError << ", "
              << check.pixelsBeyondBound << " beyond bound, " << check.worst;
    }
    return fault.str();
}

// The camera's whole lifecycle on `board`, each phase after the one before succeeded.
LifecycleRun runLifecycle(sim::SimBoard& board) {
    LifecycleRun run;
    sim::SimKernel& kernel = board.kernel();
    SeamComponents components(kernel);
    testing::internal::CaptureStderr();
    {
        auto phase = [&](Phase which) {
            run.traceAt[which] = kernel.trace().size();
            run.reached[which] = true;
        };
        phase(Open);
        QuarvelTOFCamera camera(components);  // the board probe belongs to open
        run.status[Open] = camera.open(Connection::CSI, 0);
        if (run.status[Open] == 0) {
            phase(ReadControl);
            int exposure = 0;
            run.status[ReadControl] = camera.getControl(CameraCtrl::EXPOSURE, &exposure);
            phase(Start);
            run.status[Start] = camera.start(FrameType::DEPTH);
            if (run.status[Start] == 0) {
                phase(Frame);
                run.frameFault = checkOneFrame(camera, board);
                phase(Stop);
                run.status[Stop] = camera.stop();
            }
        }
        phase(Close);
        run.status[Close] = camera.close();
    }
    run.traceAt[kPhases] = kernel.trace().size();
    testing::internal::GetCapturedStderr();
    return run;
}

Phase phaseOf(const LifecycleRun& run, size_t call) {
    for (int phase = kPhases - 1; phase >= 0; --phase) {
        if (run.reached[phase] && call >= run.traceAt[phase]) return static_cast<Phase>(phase);
    }
    return Open;
}

// Requests repeated on EINTR, EAGAIN and ETIMEDOUT: every V4L2 and media-controller
// request except the size read-backs and the Pi 5 link set-up's entity search.
bool retried(const std::vector<CallRecord>& trace, size_t call) {
    const CallRecord& record = trace[call];
    if (record.call != Call::Ioctl) return false;
    const unsigned long request = record.request;
    if (request == VIDIOC_G_FMT || request == VIDIOC_SUBDEV_G_FMT) return false;
    if (request == MEDIA_IOC_ENUM_ENTITIES) {
        for (size_t later = call; later < trace.size(); ++later) {
            if (trace[later].request == MEDIA_IOC_SETUP_LINK) return false;  // link set-up
        }
        return true;
    }
    const char type = static_cast<char>(_IOC_TYPE(request));
    return type == 'V' || type == '|';
}

// What the phase reports when `record` fails for good.
int failedStatus(Phase phase, const CallRecord& record) {
    switch (phase) {
        case Open:  // closing the media node after the walk may fail harmlessly
            return record.call == Call::Close ? 0 : -2;
        case ReadControl:
            return -1;
        case Start:  // the range written back first is best effort
            if (record.request == VIDIOC_S_CTRL) return 0;
            return record.request == VIDIOC_STREAMON ? -2 : -1;
        case Stop:
            return -2;
        default:  // close
            return 0;
    }
}

std::vector<int> errnosFor(Call call) {
    switch (call) {
        case Call::Ioctl:
            return {EIO, EBUSY, EINVAL, ENOMEM, ENODEV, EPIPE};
        case Call::Open:
            return {ENOENT, EACCES, EBUSY, ENODEV, ENOMEM, EINTR};
        case Call::Close:
            return {EINTR, EIO};
        case Call::Mmap:
            return {ENOMEM, EINVAL, ENODEV};
        case Call::Munmap:
            return {EINVAL};
        case Call::Fstat:
            return {EIO, ENOMEM};
        case Call::ListDirectory:
            return {ENOENT, EACCES, ENOMEM};
        case Call::Readlink:
            return {ENOENT, EINVAL, EACCES};
        default:  // reading a file's lines
            return {ENOENT, EACCES, EIO};
    }
}

// The calls before trace[call] that `rule` also matches: its skip count.
int earlierMatches(const sim::FaultRule& rule, const std::vector<CallRecord>& trace,
                   size_t call) {
    int count = 0;
    for (size_t i = 0; i < call; ++i) {
        if (rule.matches(trace[i].call, trace[i].request, trace[i].path)) ++count;
    }
    return count;
}

std::string describe(const CallRecord& record, int error, int times) {
    std::ostringstream text;
    text << sim::callName(record.call) << " 0x" << std::hex << record.request << std::dec << " "
         << record.path << " fails with " << std::strerror(error) << " x" << times;
    return text.str();
}

std::unique_ptr<sim::SimBoard> freshBoard() {
    return sim::SimBoard::raspberryPi5().paced(false).build();
}

void expectNothingLeft(sim::SimBoard& board) {
    EXPECT_EQ(board.kernel().openDescriptorCount(), 0);
    EXPECT_EQ(board.kernel().mappingCount(), 0u);
}

}  // namespace

TEST(CsiCameraFaults, EverySystemCallOfTheLifecycleFailsWithEachErrnoAndTheCameraRecovers) {
    auto cleanBoard = freshBoard();
    const LifecycleRun clean = runLifecycle(*cleanBoard);
    for (int phase = 0; phase < kPhases; ++phase) {
        ASSERT_EQ(clean.status[phase], 0) << kPhaseNames[phase];
    }
    ASSERT_EQ(clean.frameFault, "");
    const std::vector<CallRecord> trace = cleanBoard->kernel().trace();

    size_t streamOn = 0;
    while (streamOn < trace.size() && trace[streamOn].request != VIDIOC_STREAMON) ++streamOn;
    ASSERT_LT(streamOn, trace.size());

    int64_t swept = 0, injected = 0, retriedAway = 0, recovered = 0;
    for (size_t call = 0; call < trace.size(); ++call) {
        const CallRecord& record = trace[call];
        const Phase phase = phaseOf(clean, call);
        // The capture thread's reads have a test of their own (below).
        if (phase == Frame || (isCaptureCall(record) && call > streamOn)) continue;
        ++swept;
        struct Variant {
            int error;
            int times;
        };
        std::vector<Variant> variants;
        for (int error : errnosFor(record.call)) variants.push_back({error, 1});
        if (record.call == Call::Ioctl) {
            // Transient errors: gone within the five attempts, or still there at the fifth.
            variants.push_back({EINTR, 1});
            variants.push_back({ETIMEDOUT, 4});
            variants.push_back({EAGAIN, 5});
        }
        // Below scale 1 a share of the variants, a different one for each call.
        const size_t keep = stress::scaledShare(variants.size());
        for (size_t v = 0; v < keep; ++v) {
            const Variant& variant = variants[(call + v) % variants.size()];
            SCOPED_TRACE(testing::Message()
                         << "call " << call << " in " << kPhaseNames[phase] << ": "
                         << describe(record, variant.error, variant.times));
            auto board = freshBoard();
            sim::FaultRule rule{record.call, record.request, record.path};
            rule.error = variant.error;
            rule.times = variant.times;
            rule.skip = earlierMatches(rule, trace, call);
            board->kernel().addFault(rule);
            const LifecycleRun run = runLifecycle(*board);
            ++injected;

            const bool transient =
                variant.error == EINTR || variant.error == EAGAIN || variant.error == ETIMEDOUT;
            const bool absorbed = transient && variant.times < 5 && retried(trace, call);
            const int expected = absorbed ? 0 : failedStatus(phase, record);
            EXPECT_EQ(run.status[phase], expected);
            for (int earlier = 0; earlier < phase; ++earlier) {
                EXPECT_EQ(run.status[earlier], 0) << kPhaseNames[earlier];
            }
            EXPECT_EQ(run.status[Close], 0);
            if (run.reached[Frame]) {
                EXPECT_EQ(run.frameFault, "");
            }
            expectNothingLeft(*board);
            if (absorbed) {
                ++retriedAway;
                continue;
            }
            // The fault is gone: the same board opens, streams true depth and closes again.
            board->kernel().clearFaults();
            const LifecycleRun again = runLifecycle(*board);
            for (int step = 0; step < kPhases; ++step) {
                EXPECT_EQ(again.status[step], 0) << "after the fault: " << kPhaseNames[step];
            }
            EXPECT_EQ(again.frameFault, "") << "after the fault";
            expectNothingLeft(*board);
            ++recovered;
        }
    }
    std::ostringstream line;
    line << "CSI camera faults: " << injected << " injected over the " << swept
         << " system calls of open, getControl, start, stop and close (" << retriedAway
         << " absorbed by the retry rule, " << recovered
         << " followed by a good frame after the fault was cleared)";
    stress::report(line.str());
}

// The capture thread's reads: a dequeue or queue that fails (for good, or transiently) in the
// middle of a frame never yields a frame, the stream goes on with intact frames, and stop and
// close leave nothing behind.
TEST(CsiCameraFaults, AFailedReadOnTheCapturePathHandsOutNoBrokenFrame) {
    struct Variant {
        unsigned long request;
        int error;
        int skip;
    };
    std::vector<Variant> variants;
    for (unsigned long request : {VIDIOC_DQBUF, VIDIOC_QBUF}) {
        for (int error : {EIO, EINVAL, EPIPE, ENODEV, ENOMEM, EINTR, EAGAIN}) {
            for (int skip : {0, 1, 2, 3, 9}) variants.push_back({request, error, skip});
        }
    }
    int64_t injected = 0;
    for (size_t index : stress::spreadSelection(variants.size())) {
        const unsigned long request = variants[index].request;
        const int error = variants[index].error;
        const int skip = variants[index].skip;
        SCOPED_TRACE(testing::Message()
                     << (request == VIDIOC_DQBUF ? "DQBUF" : "QBUF") << " "
                     << std::strerror(error) << " after " << skip);
        auto board = freshBoard();
        SeamComponents components(board->kernel());
        {
            QuarvelTOFCamera camera(components);
            ASSERT_EQ(camera.open(Connection::CSI, 0), 0);
            ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
            sim::FaultRule rule{sim::Call::Ioctl, request, "/dev/video0"};
            rule.error = error;
            rule.skip = skip;
            rule.times = 5;  // beyond the retry rule: the read fails
            testing::internal::CaptureStderr();
            board->kernel().addFault(rule);
            ++injected;
            stress::DeliveryChecker checker(nullptr);
            checker.newStream(FrameType::DEPTH);
            for (int frame = 0; frame < 4; ++frame) {
                QuarvelFrameBuffer* buffer = camera.requestFrame(5000);
                ASSERT_NE(buffer, nullptr) << "frame " << frame;
                checker.handedOut(buffer);
                const csitest::DepthCheck check = csitest::checkHqvgaDepth(
                    *board, static_cast<const float*>(buffer->getData(FrameType::DEPTH)),
                    false);
                EXPECT_EQ(check.pixelsBeyondBound, 0) << check.worst;
                EXPECT_LT(check.medianRelativeError, 0.01);
                ASSERT_EQ(camera.releaseFrame(buffer), 0);
                checker.released(buffer);
            }
            for (const std::string& fault : checker.faults) ADD_FAILURE() << fault;
            EXPECT_EQ(camera.stop(), 0);
            EXPECT_EQ(camera.close(), 0);
            testing::internal::GetCapturedStderr();
        }
        expectNothingLeft(*board);
    }
    std::ostringstream line;
    line << "CSI capture-path faults: " << injected << " injected";
    stress::report(line.str());
}
