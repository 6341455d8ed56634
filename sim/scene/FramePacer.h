// Timing of a simulated sensor: when each sub-frame is exposed and what timestamp it gets.
#pragma once

#include <chrono>
#include <cstdint>

namespace Quarvel {
namespace sim {

struct FrameTiming {
    double framesPerSecond = 30.0;
    int subframesPerFrame = 4;
    // Sub-frames of one frame follow each other this many milliseconds apart; frames
    // start 1 / framesPerSecond apart. Readers group sub-frames by timestamp gaps, so
    // the gap between frames must stay well above the spacing (see maxFramesPerSecond).
    int subframeSpacingMs = 2;
    // How many produced sub-frames wait for a slow reader before the oldest are dropped.
    int queueDepth = 8;
    // No waiting: every sub-frame is ready at once, timestamps advance as if paced.
    bool unthrottled = false;
};

// Sub-frame number `index` counts from 0 at start(); frame = index / subframesPerFrame.
struct SubframeSlot {
    uint64_t index = 0;
    uint64_t frame = 0;
    int subframe = 0;
    uint64_t timestampMs = 0;                     // the sensor clock, milliseconds
    std::chrono::steady_clock::time_point due{};  // when it is ready (paced mode)
};

// Pure timing arithmetic; the caller waits (and can be woken) on its own. Not thread-safe:
// one reader at a time, guarded by its owner.
class FramePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit FramePacer(const FrameTiming& timing);

    // Frame rates above this leave less than `minimumGapMs` between the last sub-frame of
    // one frame and the first of the next.
    static double maxFramesPerSecond(int subframes, int spacingMs, int minimumGapMs);

    // Restarts the sequence at sub-frame 0, due now.
    void start(Clock::time_point now);

    // The sub-frame to hand out next as of `now`: the oldest not yet taken, unless the
    // reader fell more than queueDepth sub-frames behind, in which case the older ones are
    // dropped. In paced mode it may lie in the future (wait until `due`); in unthrottled
    // mode it is always due.
    SubframeSlot next(Clock::time_point now);
    // Marks the slot returned by next() as taken.
    void take(const SubframeSlot& slot);
    // The simulation spent `work` producing one sub-frame. A sensor runs from its own clock,
    // so work within one sub-frame's share of the frame period moves nothing: due times stay
    // on their absolute schedule and the delivered rate matches the timestamps. Only work
    // beyond that share (a host that cannot keep up, such as an emulator) moves every later
    // due time by the excess (timestamps stay), so the reader does not fall behind and lose
    // sub-frames for the simulation's sake.
    void hold(Clock::duration work);

    // Timestamp and due time of any sub-frame of the current sequence.
    SubframeSlot slotAt(uint64_t index) const;
    const FrameTiming& timing() const { return settings; }

private:
    FrameTiming settings;
    Clock::time_point startTime{};
    uint64_t startMs = 0;
    uint64_t nextIndex = 0;
};

}  // namespace sim
}  // namespace Quarvel
