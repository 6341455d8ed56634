// CSI streaming over simulated boards: grouping sub-frames by time, buffer faults, the
// number of buffers granted, the copy routine chosen, and stop.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>

#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::GuardedBuffer;
using csitest::kHqvgaFrameBytes;
using csitest::OpenSensor;
using sim::BoardKind;
using sim::SimBoard;

namespace {

// The (sensor frame, sub-frame) each of the four parts of a frame must hold.
using Parts = std::vector<std::pair<uint64_t, int>>;

// Arranges the stream on a Raspberry Pi 4, starts it, takes one frame and checks how many
// sub-frames it dequeued and where each part of the frame came from.
void expectGroup(const std::function<void(OpenSensor&)>& arrange, int dequeues,
                 const Parts& parts, uint64_t expectedTimestamp = 0) {
    OpenSensor open(SimBoard::raspberryPi4());
    ASSERT_EQ(open.openResult, 0);
    arrange(open);
    ASSERT_EQ(open.sensor->start(), 0);
    open.kernel().clearTrace();
    std::vector<uint8_t> frame(kHqvgaFrameBytes);
    uint64_t timestamp = 0;
    ASSERT_EQ(open.sensor->getFrame(frame.data(), &timestamp), 0);
    EXPECT_EQ(open.calls(sim::Call::Ioctl, VIDIOC_DQBUF), dequeues);
    for (int part = 0; part < 4; ++part) {
        EXPECT_TRUE(open.holdsSubframe(frame.data(), part, parts[part].first, parts[part].second))
            << "part " << part;
    }
    if (expectedTimestamp != 0) {
        EXPECT_EQ(timestamp, expectedTimestamp);
    }
    sim::DeliveredSubframe last{};
    ASSERT_TRUE(open.board->video().lookupMilliseconds(timestamp, &last));
    EXPECT_EQ(last.frame, parts[3].first);
    EXPECT_EQ(last.subframe, parts[3].second);
}

}  // namespace

TEST(SubframeGrouping, FourSubframesTwoMillisecondsApartAreOneFrame) {
    expectGroup([](OpenSensor&) {}, 4, {{0, 0}, {0, 1}, {0, 2}, {0, 3}});
}

TEST(SubframeGrouping, ALateSubframeStartsANewGroupAndThreeMoreAreDequeued) {
    // Frames back to back (120 per second, 2 ms between sub-frames) and the third sub-frame
    // 6 ms after the second: the group is 2 and 3 of frame 0, 0 and 1 of frame 1.
    expectGroup(
        [](OpenSensor& open) {
            ASSERT_EQ(open.sensor->setControl(CameraCtrl::FRAME_RATE, 120), 0);
            open.board->video().delaySubframe(2, 4000);
        },
        6, {{0, 2}, {0, 3}, {1, 0}, {1, 1}});
}

TEST(SubframeGrouping, AGroupAcrossASecondBoundaryStaysTogether) {
    // Sub-frames at 41.995000, 41.997000, 41.999000 and 42.002000 s.
    expectGroup(
        [](OpenSensor& open) {
            open.board->video().setTimestampBase(41, 995000);
            open.board->video().delaySubframe(3, 1000);
        },
        4, {{0, 0}, {0, 1}, {0, 2}, {0, 3}}, 42002);
}

TEST(SubframeGrouping, TimesInTheLast32BitSecondKeepTheirGroupAndEveryMillisecond) {
    // Sub-frames at 2147483646.997, .999, 2147483647.001 and .003 s: seconds that a 32-bit
    // time_t still holds, while seconds x 10^6 (the grouping) and seconds x 1000 (the frame
    // time) need 64 bits.
    expectGroup(
        [](OpenSensor& open) { open.board->video().setTimestampBase(2147483646, 997000); }, 4,
        {{0, 0}, {0, 1}, {0, 2}, {0, 3}}, 2147483647003ull);
}

TEST(SubframeGrouping, ALostSubframeDropsTheIncompleteFrame) {
    // 0, 2, 3 of frame 0 form an incomplete group; frame 1 is whole.
    expectGroup([](OpenSensor& open) { open.board->video().loseSubframe(1); }, 7,
                {{1, 0}, {1, 1}, {1, 2}, {1, 3}});
}

TEST(SubframeGrouping, NoSubframesAskedForDequeuesNothing) {
    OpenSensor open(SimBoard::raspberryPi4(), true);
    open.sensor->subframeCount = 0;
    open.kernel().clearTrace();
    uint64_t timestamp = 77;
    EXPECT_EQ(open.sensor->getFrame(nullptr, &timestamp), 0);
    EXPECT_EQ(timestamp, 0u);
    EXPECT_EQ(open.calls(sim::Call::Ioctl, VIDIOC_DQBUF), 0);
}

TEST(BufferRing, GrantedBuffersAreUsedAndAnIndexOutOfRangeReturnsTwoWhileTheStreamGoesOn) {
    for (uint32_t granted : {1u, 3u, 8u}) {
        SCOPED_TRACE(granted);
        OpenSensor open(SimBoard::raspberryPi4().maxBuffers(granted), true);
        EXPECT_EQ(open.sensor->grantedBufferCount(), static_cast<int>(granted));
        EXPECT_EQ(open.kernel().mappingCount(), granted);
        std::vector<uint8_t> frame(kHqvgaFrameBytes);
        uint64_t timestamp = 0;
        for (int n = 0; n < 3; ++n) {
            ASSERT_EQ(open.sensor->getFrame(frame.data(), &timestamp), 0);
            sim::DeliveredSubframe last{};
            ASSERT_TRUE(open.board->video().lookupMilliseconds(timestamp, &last));
            for (int sub = 0; sub < 4; ++sub) {
                EXPECT_TRUE(open.holdsSubframe(frame.data(), sub, last.frame, sub));
            }
        }
        // An index the driver never granted is refused; a full ring keeps streaming without
        // the buffer that left it.
        open.board->video().reportIndexOnce(granted);
        EXPECT_EQ(open.sensor->getFrame(frame.data(), &timestamp), 2);
        if (granted == 8) {
            for (int n = 0; n < 4; ++n) EXPECT_EQ(open.sensor->getFrame(frame.data(), &timestamp), 0);
        }
        EXPECT_EQ(open.sensor->close(), 0);
        EXPECT_EQ(open.kernel().mappingCount(), 0u);
    }
}

TEST(BufferRing, ADriverGrantingNoBufferIsRefused) {
    OpenSensor open(SimBoard::raspberryPi4().maxBuffers(0));
    EXPECT_EQ(open.sensor->start(), -1);
    EXPECT_EQ(open.sensor->close(), 0);
    EXPECT_EQ(open.kernel().openDescriptorCount(), 0);
}

TEST(BufferRing, CopyRoutineFollowsTheBufferAndTheBoard) {
    const struct {
        sim::SimBoardBuilder builder;
        SubframeCopy routine;
    } cases[] = {
        {SimBoard::raspberryPi4(), copyLineStride},
        {SimBoard::raspberryPi5(), unpackY12P},
        {SimBoard::jetsonNano(), copyLineStride},
        {SimBoard::jetsonXavierNx(), copyLineStride},
        {SimBoard::radxaRock5b(), copyPlain},
        // No longer the 92160-byte line-stride buffer: copied whole, and four of them are
        // more than one frame holds.
        {SimBoard::raspberryPi4().extraBufferBytes(4096), copyPlain},
    };
    for (const auto& entry : cases) {
        OpenSensor open(entry.builder, true);
        SCOPED_TRACE(SimBoard::nameOf(open.board->kind()));
        EXPECT_EQ(open.sensor->subframeRoutine(), entry.routine);
        GuardedBuffer frame(kHqvgaFrameBytes);
        uint64_t timestamp = 0;
        EXPECT_EQ(open.sensor->getFrame(frame.data(), &timestamp), 0);
    }
    // A 640 x 2405 frame on the Xavier is not line-stride padded: the block layout.
    OpenSensor vga(SimBoard::jetsonXavierNx().sensor(sim::SimSensor::Vga));
    vga.sensor->subframeCount = 1;
    vga.sensor->setControl(CameraCtrl::FMT_HEIGHT, 2405);
    ASSERT_EQ(vga.sensor->start(), 0);
    EXPECT_EQ(vga.sensor->subframeRoutine(), &copyBlockReorder);
}

TEST(BufferRing, InterruptedDequeuesAreRetriedFourTimes) {
    OpenSensor open(SimBoard::raspberryPi4(), true);
    open.kernel().addFault({sim::Call::Ioctl, VIDIOC_DQBUF, "", EINTR, 4});
    std::vector<uint8_t> frame(kHqvgaFrameBytes);
    uint64_t timestamp = 0;
    EXPECT_EQ(open.sensor->getFrame(frame.data(), &timestamp), 0);
    open.kernel().addFault({sim::Call::Ioctl, VIDIOC_DQBUF, "", EINTR, 5});
    EXPECT_EQ(open.sensor->getFrame(frame.data(), &timestamp), -2);
}

TEST(StopAndRestart, StopUnmapsEveryBufferAndStartWorksAgain) {
    OpenSensor open(SimBoard::raspberryPi5(), true);
    EXPECT_EQ(open.kernel().mappingCount(), 8u);
    EXPECT_EQ(open.sensor->stop(), 0);
    EXPECT_EQ(open.kernel().mappingCount(), 0u);
    EXPECT_FALSE(open.board->video().streaming());
    ASSERT_EQ(open.sensor->start(), 0);
    std::vector<uint8_t> frame(kHqvgaFrameBytes);
    uint64_t timestamp = 0;
    EXPECT_EQ(open.sensor->getFrame(frame.data(), &timestamp), 0);
    EXPECT_EQ(open.sensor->stop(), 0);
    EXPECT_EQ(open.sensor->close(), 0);
    EXPECT_EQ(open.kernel().openDescriptorCount(), 0);
}

TEST(StopAndRestart, AFailedUnmapIsReportedAndRetriedAtClose) {
    OpenSensor open(SimBoard::raspberryPi4(), true);
    open.kernel().addFault({sim::Call::Munmap, 0, "", EINVAL, 1, 3});
    EXPECT_EQ(open.sensor->stop(), -2);
    EXPECT_EQ(open.kernel().mappingCount(), 1u);
    EXPECT_EQ(open.sensor->close(), 0);
    EXPECT_EQ(open.kernel().mappingCount(), 0u);
    EXPECT_EQ(open.kernel().openDescriptorCount(), 0);
}
