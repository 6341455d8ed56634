// Sub-frame scheduling and millisecond timestamps of a simulated sensor.
#include "sim/scene/FramePacer.h"

#include <algorithm>
#include <cmath>

namespace Quarvel {
namespace sim {

FramePacer::FramePacer(const FrameTiming& timing) : settings(timing) {
    settings.subframesPerFrame = std::max(1, settings.subframesPerFrame);
    settings.subframeSpacingMs = std::max(0, settings.subframeSpacingMs);
    settings.queueDepth = std::max(1, settings.queueDepth);
    if (!(settings.framesPerSecond > 0.0)) settings.framesPerSecond = 30.0;
    start(Clock::now());
}

double FramePacer::maxFramesPerSecond(int subframes, int spacingMs, int minimumGapMs) {
    const int span = (std::max(1, subframes) - 1) * std::max(0, spacingMs) + minimumGapMs;
    return span > 0 ? 1000.0 / span : 1000.0;
}

void FramePacer::start(Clock::time_point now) {
    startTime = now;
    // Whole milliseconds on the sensor clock, never 0.
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    startMs = static_cast<uint64_t>(std::max<int64_t>(1, sinceEpoch));
    nextIndex = 0;
}

SubframeSlot FramePacer::slotAt(uint64_t index) const {
    SubframeSlot slot;
    slot.index = index;
    slot.frame = index / static_cast<uint64_t>(settings.subframesPerFrame);
    slot.subframe = static_cast<int>(index % static_cast<uint64_t>(settings.subframesPerFrame));
    const double periodMs = 1000.0 / settings.framesPerSecond;
    const uint64_t frameStartMs =
        static_cast<uint64_t>(std::floor(static_cast<double>(slot.frame) * periodMs));
    const uint64_t offsetMs =
        frameStartMs + static_cast<uint64_t>(slot.subframe) * settings.subframeSpacingMs;
    slot.timestampMs = startMs + offsetMs;
    slot.due = startTime + std::chrono::milliseconds(offsetMs);
    return slot;
}

SubframeSlot FramePacer::next(Clock::time_point now) {
    if (settings.unthrottled) {
        SubframeSlot slot = slotAt(nextIndex);
        slot.due = now;
        return slot;
    }
    // Newest sub-frame already produced: the last one whose due time has passed.
    if (now >= startTime) {
        const double elapsedMs = std::chrono::duration<double, std::milli>(now - startTime).count();
        const double periodMs = 1000.0 / settings.framesPerSecond;
        const uint64_t frames = static_cast<uint64_t>(elapsedMs / periodMs);
        uint64_t newest = frames * settings.subframesPerFrame;
        // Walk forward within the frame while sub-frames are due (at most a few steps).
        while (slotAt(newest + 1).due <= now && (newest + 1) % settings.subframesPerFrame != 0) {
            ++newest;
        }
        while (slotAt(newest).due > now && newest > 0) --newest;
        const uint64_t depth = static_cast<uint64_t>(settings.queueDepth);
        if (newest >= depth && nextIndex + depth <= newest) nextIndex = newest - depth + 1;
    }
    return slotAt(nextIndex);
}

void FramePacer::take(const SubframeSlot& slot) { nextIndex = slot.index + 1; }

void FramePacer::hold(Clock::duration work) {
    const std::chrono::duration<double> share(1.0 / settings.framesPerSecond /
                                              settings.subframesPerFrame);
    const auto excess = work - std::chrono::duration_cast<Clock::duration>(share);
    if (excess > Clock::duration::zero()) startTime += excess;
}

}  // namespace sim
}  // namespace Quarvel
