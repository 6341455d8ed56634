// Helpers of the stress tests: the scale knob, the frames a replaying camera can deliver,
// and a checker that every delivered frame is whole, new and handed out once.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/FrameBuffer.h"
#include "core/Types.h"
#include "tests/support/StressScale.h"

namespace stress {

// The description of a 240x180 USB camera that hands out four synthesised frames in turn as
// fast as they are read, with sensor noise, so that every frame differs from the others.
std::string replayingHqvgaCamera();

// Every plane an intact frame of that camera can carry: the four replayed frames in each
// modulation of the sensor, computed by the reference formulas at each range the device may
// be set to (2000 or 4000 mm) for depth, and once for raw. A delivered plane must equal one of them
// byte for byte: a torn, half-processed or stale-mixed frame equals none.
class ReplayedFrames {
public:
    ReplayedFrames();
    // Index of the plane the frame's DEPTH (or RAW) plane equals, or -1.
    int matchDepth(Quarvel::QuarvelFrameBuffer& frame) const;
    int matchRaw(Quarvel::QuarvelFrameBuffer& frame) const;
    size_t depthCandidates() const { return depthPlanes.size(); }

private:
    static int match(const std::vector<std::vector<uint8_t>>& planes,
                     const std::map<std::string, int>& byPrefix, const void* data, size_t bytes);

    std::vector<std::vector<uint8_t>> depthPlanes;  // float planes as bytes
    std::vector<std::vector<uint8_t>> rawPlanes;
    std::map<std::string, int> depthByPrefix;
    std::map<std::string, int> rawByPrefix;
};

// Follows one stream of one camera from the user's side: frames handed out must carry
// strictly increasing timestamps, must not be in the user's hands already, and must match
// a plane of `expected` (when given). Counts what it saw; `faults` lists what went wrong.
class DeliveryChecker {
public:
    explicit DeliveryChecker(const ReplayedFrames* expected) : expected(expected) {}
    // A new stream begins (after start): timestamps may start over.
    void newStream(Quarvel::FrameType type);
    // Checks a frame just returned by requestFrame; records it as held.
    void handedOut(Quarvel::QuarvelFrameBuffer* frame);
    // Records a release the camera accepted.
    void released(Quarvel::QuarvelFrameBuffer* frame);
    // Every held frame has been released or its pool replaced.
    void forgetHeld() { held.clear(); }

    int64_t checked = 0;
    std::vector<std::string> faults;

private:
    void fault(const std::string& what);

    const ReplayedFrames* expected;
    Quarvel::FrameType type = Quarvel::FrameType::DEPTH;
    uint64_t lastTimestamp = 0;
    bool anyInStream = false;
    std::set<const Quarvel::QuarvelFrameBuffer*> held;
};

}  // namespace stress
