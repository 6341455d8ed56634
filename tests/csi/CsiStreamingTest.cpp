// CSI streaming over simulated boards: grouping sub-frames by time, buffer faults, the
// number of buffers granted, and stop.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sensor/QuarvelTOFCSISensor.h"
#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::GuardedBuffer;
using sim::BoardKind;
using sim::SimBoard;

namespace {

constexpr size_t kFrameBytes = 240 * 180 * 4 * 2;

// An opened and started 240x180 transport on an unpaced board.
struct Streaming {
    std::unique_ptr<SimBoard> board;
    std::unique_ptr<QuarvelTOFCSISensor> sensor;
    explicit Streaming(sim::SimBoardBuilder builder, bool startNow = true)
        : board(builder.paced(false).build()) {
        sensor = std::make_unique<QuarvelTOFCSISensor>(board->kernel(), "/dev/video0",
                                                       board->expectedModel());
        CameraInfo info{};
        EXPECT_EQ(sensor->open(info), 0);
        sensor->subframeCount = 4;
        if (startNow) {
            EXPECT_EQ(sensor->start(), 0);
        }
    }
    int dequeues() const {
        const auto trace = board->kernel().trace();
        return static_cast<int>(std::count_if(trace.begin(), trace.end(), [](const auto& r) {
            return r.call == sim::Call::Ioctl && r.request == VIDIOC_DQBUF;
        }));
    }
    // The sensor frame and sub-frame each 180-line part of `frame` came from.
    bool holdsSubframe(const uint8_t* frame, int part, uint64_t sensorFrame, int subframe) {
        const auto expected = csitest::synthesised(*board, sensorFrame, subframe, false);
        for (size_t i = 0; i < expected.size(); ++i) {
            const size_t at = 2 * (part * expected.size() + i);
            if (static_cast<uint16_t>(frame[at] | (frame[at + 1] << 8)) != expected[i])
                return false;
        }
        return true;
    }
};

}  // namespace

TEST(SubframeGrouping, FourSubframesTwoMillisecondsApartAreOneFrame) {
    Streaming stream(SimBoard::raspberryPi4());
    stream.board->kernel().clearTrace();
    std::vector<uint8_t> frame(kFrameBytes);
    uint64_t timestamp = 0;
    ASSERT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
    EXPECT_EQ(stream.dequeues(), 4);
    for (int sub = 0; sub < 4; ++sub) EXPECT_TRUE(stream.holdsSubframe(frame.data(), sub, 0, sub));
    sim::DeliveredSubframe last{};
    ASSERT_TRUE(stream.board->video().lookupMilliseconds(timestamp, &last));
    EXPECT_EQ(last.frame, 0u);
    EXPECT_EQ(last.subframe, 3);
}

TEST(SubframeGrouping, ALateSubframeStartsANewGroupAndThreeMoreAreDequeued) {
    Streaming stream(SimBoard::raspberryPi4(), false);
    // Frames back to back (120 per second, 2 ms between sub-frames) and the third sub-frame
    // 6 ms after the second.
    ASSERT_EQ(stream.sensor->setControl(CameraCtrl::FRAME_RATE, 120), 0);
    stream.board->video().delaySubframe(2, 4000);
    ASSERT_EQ(stream.sensor->start(), 0);
    stream.board->kernel().clearTrace();
    std::vector<uint8_t> frame(kFrameBytes);
    uint64_t timestamp = 0;
    ASSERT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
    EXPECT_EQ(stream.dequeues(), 6);
    // The group is sub-frames 2 and 3 of frame 0 and 0 and 1 of frame 1.
    EXPECT_TRUE(stream.holdsSubframe(frame.data(), 0, 0, 2));
    EXPECT_TRUE(stream.holdsSubframe(frame.data(), 1, 0, 3));
    EXPECT_TRUE(stream.holdsSubframe(frame.data(), 2, 1, 0));
    EXPECT_TRUE(stream.holdsSubframe(frame.data(), 3, 1, 1));
}

TEST(SubframeGrouping, AGroupAcrossASecondBoundaryStaysTogether) {
    Streaming stream(SimBoard::raspberryPi4(), false);
    // Sub-frames at 41.995000, 41.997000, 41.999000 and 42.002000 s.
    stream.board->video().setTimestampBase(41, 995000);
    stream.board->video().delaySubframe(3, 1000);
    ASSERT_EQ(stream.sensor->start(), 0);
    stream.board->kernel().clearTrace();
    std::vector<uint8_t> frame(kFrameBytes);
    uint64_t timestamp = 0;
    ASSERT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
    EXPECT_EQ(stream.dequeues(), 4);
    EXPECT_EQ(timestamp, 42002u);
    for (int sub = 0; sub < 4; ++sub) EXPECT_TRUE(stream.holdsSubframe(frame.data(), sub, 0, sub));
}

TEST(SubframeGrouping, ALostSubframeDropsTheIncompleteFrame) {
    Streaming stream(SimBoard::raspberryPi4(), false);
    stream.board->video().loseSubframe(1);
    ASSERT_EQ(stream.sensor->start(), 0);
    stream.board->kernel().clearTrace();
    std::vector<uint8_t> frame(kFrameBytes);
    uint64_t timestamp = 0;
    ASSERT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
    // 0, 2, 3 of frame 0 form an incomplete group; frame 1 is whole.
    EXPECT_EQ(stream.dequeues(), 7);
    for (int sub = 0; sub < 4; ++sub) EXPECT_TRUE(stream.holdsSubframe(frame.data(), sub, 1, sub));
}

TEST(SubframeGrouping, NoSubframesAskedForDequeuesNothing) {
    Streaming stream(SimBoard::raspberryPi4());
    stream.sensor->subframeCount = 0;
    stream.board->kernel().clearTrace();
    uint64_t timestamp = 77;
    EXPECT_EQ(stream.sensor->getFrame(nullptr, &timestamp), 0);
    EXPECT_EQ(timestamp, 0u);
    EXPECT_EQ(stream.dequeues(), 0);
}

TEST(BufferRing, AnIndexOutOfRangeReturnsTwoAndTheStreamGoesOn) {
    Streaming stream(SimBoard::raspberryPi4());
    stream.board->video().reportIndexOnce(9);
    std::vector<uint8_t> frame(kFrameBytes);
    uint64_t timestamp = 0;
    EXPECT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 2);
    // The buffer left the ring; the remaining seven keep the stream going.
    for (int n = 0; n < 4; ++n) EXPECT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
    EXPECT_EQ(stream.sensor->stop(), 0);
    EXPECT_EQ(stream.sensor->close(), 0);
    EXPECT_EQ(stream.board->kernel().mappingCount(), 0u);
}

TEST(BufferRing, ADriverGrantingFewerBuffersStreamsWithThoseAndNeverIndexesPastThem) {
    for (uint32_t granted : {1u, 3u}) {
        SCOPED_TRACE(granted);
        Streaming stream(SimBoard::raspberryPi4().maxBuffers(granted));
        EXPECT_EQ(stream.sensor->grantedBufferCount(), static_cast<int>(granted));
        EXPECT_EQ(stream.board->kernel().mappingCount(), granted);
        std::vector<uint8_t> frame(kFrameBytes);
        uint64_t timestamp = 0;
        for (int n = 0; n < 3; ++n) {
            ASSERT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
            sim::DeliveredSubframe last{};
            ASSERT_TRUE(stream.board->video().lookupMilliseconds(timestamp, &last));
            for (int sub = 0; sub < 4; ++sub) {
                EXPECT_TRUE(stream.holdsSubframe(frame.data(), sub, last.frame, sub));
            }
        }
        // An index the driver never granted is refused like any out-of-range index.
        stream.board->video().reportIndexOnce(granted);
        EXPECT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 2);
        EXPECT_EQ(stream.sensor->close(), 0);
        EXPECT_EQ(stream.board->kernel().mappingCount(), 0u);
    }
}

TEST(BufferRing, ADriverGrantingNoBufferIsRefused) {
    Streaming stream(SimBoard::raspberryPi4().maxBuffers(0), false);
    EXPECT_EQ(stream.sensor->start(), -1);
    EXPECT_EQ(stream.sensor->close(), 0);
    EXPECT_EQ(stream.board->kernel().openDescriptorCount(), 0);
}

TEST(BufferRing, BuffersLargerThanExpectedNeverWritePastTheFrame) {
    // 4096 extra bytes: no longer the 92160-byte line-stride buffer, so copied whole, and
    // four of them are more than one frame holds.
    Streaming stream(SimBoard::raspberryPi4().extraBufferBytes(4096));
    GuardedBuffer frame(kFrameBytes);
    uint64_t timestamp = 0;
    EXPECT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
    EXPECT_EQ(stream.sensor->subframeRoutine(), &copyPlain);
}

TEST(BufferRing, CopyRoutineFollowsTheBufferAndTheBoard) {
    const struct {
        BoardKind kind;
        SubframeCopy routine;
    } cases[] = {
        {BoardKind::RaspberryPi4, copyLineStride}, {BoardKind::RaspberryPi5, unpackY12P},
        {BoardKind::JetsonNano, copyLineStride},   {BoardKind::JetsonXavierNx, copyLineStride},
        {BoardKind::RadxaRock5b, copyPlain},
    };
    for (const auto& entry : cases) {
        Streaming stream(SimBoard::of(entry.kind));
        EXPECT_EQ(stream.sensor->subframeRoutine(), entry.routine) << SimBoard::nameOf(entry.kind);
    }
    // A 640 x 2405 frame on the Xavier is not line-stride padded: the block layout.
    Streaming vga(SimBoard::jetsonXavierNx().sensor(sim::SimSensor::Vga), false);
    vga.sensor->subframeCount = 1;
    vga.sensor->setControl(CameraCtrl::FMT_HEIGHT, 2405);
    ASSERT_EQ(vga.sensor->start(), 0);
    EXPECT_EQ(vga.sensor->subframeRoutine(), &copyBlockReorder);
}

TEST(BufferRing, InterruptedDequeuesAreRetried) {
    Streaming stream(SimBoard::raspberryPi4());
    stream.board->kernel().addFault({sim::Call::Ioctl, VIDIOC_DQBUF, "", EINTR, 4});
    std::vector<uint8_t> frame(kFrameBytes);
    uint64_t timestamp = 0;
    EXPECT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
    stream.board->kernel().addFault({sim::Call::Ioctl, VIDIOC_DQBUF, "", EINTR, 5});
    EXPECT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), -2);
}

TEST(StopAndRestart, StopUnmapsEveryBufferAndStartWorksAgain) {
    Streaming stream(SimBoard::raspberryPi5());
    EXPECT_EQ(stream.board->kernel().mappingCount(), 8u);
    EXPECT_EQ(stream.sensor->stop(), 0);
    EXPECT_EQ(stream.board->kernel().mappingCount(), 0u);
    EXPECT_FALSE(stream.board->video().streaming());
    ASSERT_EQ(stream.sensor->start(), 0);
    std::vector<uint8_t> frame(kFrameBytes);
    uint64_t timestamp = 0;
    EXPECT_EQ(stream.sensor->getFrame(frame.data(), &timestamp), 0);
    EXPECT_EQ(stream.sensor->stop(), 0);
    EXPECT_EQ(stream.sensor->close(), 0);
    EXPECT_EQ(stream.board->kernel().openDescriptorCount(), 0);
}

TEST(StopAndRestart, AFailedUnmapIsReportedAndRetriedAtClose) {
    Streaming stream(SimBoard::raspberryPi4());
    stream.board->kernel().addFault({sim::Call::Munmap, 0, "", EINVAL, 1, 3});
    EXPECT_EQ(stream.sensor->stop(), -2);
    EXPECT_EQ(stream.board->kernel().mappingCount(), 1u);
    EXPECT_EQ(stream.sensor->close(), 0);
    EXPECT_EQ(stream.board->kernel().mappingCount(), 0u);
    EXPECT_EQ(stream.board->kernel().openDescriptorCount(), 0);
}
