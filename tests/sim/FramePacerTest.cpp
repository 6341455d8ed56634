// Frame pacing: sub-frame spacing and frame gaps in milliseconds, waiting, dropping.
#include <gtest/gtest.h>

#include "sim/scene/FramePacer.h"

using namespace Quarvel::sim;
using std::chrono::milliseconds;

TEST(FramePacer, SubframesOfAFrameStayCloseAndFramesStayApart) {
    for (double fps : {1.0, 15.0, 30.0, 45.0, 60.0}) {
        FrameTiming timing;
        timing.framesPerSecond = fps;
        FramePacer pacer(timing);
        for (uint64_t index = 1; index < 400; ++index) {
            const SubframeSlot previous = pacer.slotAt(index - 1);
            const SubframeSlot slot = pacer.slotAt(index);
            const uint64_t step = slot.timestampMs - previous.timestampMs;
            if (slot.subframe == 0) {
                ASSERT_GE(step, 6u) << "fps " << fps << " index " << index;
            } else {
                ASSERT_EQ(step, 2u);
                ASSERT_EQ(slot.frame, previous.frame);
            }
        }
        // Frame starts follow the frame rate.
        const double periodMs = 1000.0 / fps;
        EXPECT_NEAR(double(pacer.slotAt(4 * 30).timestampMs - pacer.slotAt(0).timestampMs),
                    30 * periodMs, 1.0);
    }
    EXPECT_NEAR(FramePacer::maxFramesPerSecond(4, 2, 6), 1000.0 / 12.0, 1e-9);
}

TEST(FramePacer, PacedReaderWaitsForEachSubframe) {
    FramePacer pacer(FrameTiming{});
    const auto t0 = FramePacer::Clock::now();
    pacer.start(t0);
    SubframeSlot slot = pacer.next(t0);
    EXPECT_EQ(slot.index, 0u);
    EXPECT_LE(slot.due, t0);
    pacer.take(slot);
    slot = pacer.next(t0);
    EXPECT_EQ(slot.index, 1u);
    EXPECT_EQ(slot.due, t0 + milliseconds(2));
    pacer.take(slot);
    pacer.take(pacer.next(t0 + milliseconds(2)));
    pacer.take(pacer.next(t0 + milliseconds(4)));
    slot = pacer.next(t0 + milliseconds(6));
    EXPECT_EQ(slot.index, 4u);
    EXPECT_EQ(slot.frame, 1u);
    EXPECT_EQ(slot.subframe, 0);
    EXPECT_EQ(slot.due, t0 + milliseconds(33));
}

TEST(FramePacer, SlowReaderLosesTheOldestSubframes) {
    FrameTiming timing;
    timing.queueDepth = 8;
    FramePacer pacer(timing);
    const auto t0 = FramePacer::Clock::now();
    pacer.start(t0);
    // At 1010 ms (30 fps) the newest sub-frame is frame 30's fourth (due at 1006 ms):
    // index 123. Only the eight newest are still queued.
    const SubframeSlot slot = pacer.next(t0 + milliseconds(1010));
    EXPECT_EQ(slot.index, 123u - 7u);
    EXPECT_LE(slot.due, t0 + milliseconds(1010));
    pacer.take(slot);
    EXPECT_EQ(pacer.next(t0 + milliseconds(1010)).index, slot.index + 1);
}

TEST(FramePacer, WorkBeyondTheShareOfASubframeDelaysWhatIsDueButNeitherTimestampsNorTheQueue) {
    FrameTiming timing;
    timing.queueDepth = 8;
    FramePacer pacer(timing);
    const auto t0 = FramePacer::Clock::now();
    pacer.start(t0);
    const SubframeSlot first = pacer.next(t0);
    pacer.take(first);
    // The simulation spent 1 s on the first sub-frame, of which a quarter of a 30 fps frame
    // period is its share: the rest of the stream moves by what lies beyond it.
    const auto share = std::chrono::duration_cast<FramePacer::Clock::duration>(
        std::chrono::duration<double>(1.0 / 30.0 / 4.0));
    pacer.hold(milliseconds(1000));
    SubframeSlot slot = pacer.next(t0 + milliseconds(1000));
    EXPECT_EQ(slot.index, 1u);
    EXPECT_EQ(slot.due, t0 + milliseconds(1002) - share);
    EXPECT_EQ(slot.timestampMs, first.timestampMs + 2);
    // Without the hold, 1010 ms would find the reader behind and skip to index 116.
    slot = pacer.next(t0 + milliseconds(1010));
    EXPECT_EQ(slot.index, 1u);
    pacer.hold(milliseconds(-5));  // a clock step back is not a hold
    EXPECT_EQ(pacer.next(t0 + milliseconds(1010)).due, t0 + milliseconds(1002) - share);
}

// A sensor runs from its own clock: work that fits in the frame period never moves the
// schedule, so ten seconds of frames are due exactly ten seconds after the start and the
// delivered rate agrees with the timestamps (it used to lose the work of every sub-frame:
// 28.3 frames per second at 30).
TEST(FramePacer, WorkWithinTheFramePeriodKeepsTheAbsoluteSchedule) {
    FrameTiming timing;
    FramePacer pacer(timing);
    const auto t0 = FramePacer::Clock::now();
    pacer.start(t0);
    for (uint64_t index = 0; index < 4 * 300; ++index) {
        const SubframeSlot slot = pacer.next(pacer.slotAt(index).due);
        ASSERT_EQ(slot.index, index);
        pacer.take(slot);
        pacer.hold(milliseconds(5));
    }
    const SubframeSlot tenSeconds = pacer.next(t0 + milliseconds(10000));
    EXPECT_EQ(tenSeconds.index, 4u * 300u);
    EXPECT_EQ(tenSeconds.due, t0 + milliseconds(10000));
    EXPECT_EQ(tenSeconds.timestampMs - pacer.slotAt(0).timestampMs, 10000u);
}

TEST(FramePacer, UnthrottledReaderNeverWaitsAndTimestampsAdvanceAsPaced) {
    FrameTiming timing;
    timing.unthrottled = true;
    FramePacer pacer(timing);
    const auto t0 = FramePacer::Clock::now();
    pacer.start(t0);
    uint64_t first = 0;
    for (uint64_t index = 0; index < 40; ++index) {
        const SubframeSlot slot = pacer.next(t0);
        ASSERT_EQ(slot.index, index);
        ASSERT_LE(slot.due, t0);
        if (index == 0) first = slot.timestampMs;
        ASSERT_EQ(slot.timestampMs, pacer.slotAt(index).timestampMs);
        pacer.take(slot);
    }
    EXPECT_EQ(pacer.slotAt(36).timestampMs - first, 300u);  // frame 9 at 30 fps
}
