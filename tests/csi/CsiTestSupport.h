// Helpers shared by the CSI tests: an opened transport on a board, expected samples, checks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sensor/QuarvelTOFCSISensor.h"
#include "sim/kernel/SimBoard.h"
#include "tests/support/CapturedStderr.h"

namespace Quarvel {
namespace csitest {

constexpr size_t kHqvgaFrameBytes = 240 * 180 * 4 * 2;

using support::capturedStderr;

// A transport opened (and, when asked, started) on an unpaced board, asking for 4 sub-frames.
struct OpenSensor {
    std::unique_ptr<sim::SimBoard> board;
    std::unique_ptr<QuarvelTOFCSISensor> sensor;
    CameraInfo info{};
    int openResult = 0;
    std::string message;  // what open printed

    explicit OpenSensor(sim::SimBoardBuilder builder, bool start = false,
                        const char* videoPath = "/dev/video0", int model = -1);
    sim::SimKernel& kernel() { return board->kernel(); }
    // Calls of kind `call` (with ioctl `request` when non-zero) in the kernel's trace.
    int calls(sim::Call call, unsigned long request = 0) const;
    bool isOpen(const std::string& path) const;
    // The frame's `part`-th sub-frame is sub-frame `subframe` of sensor frame `frame`, as the
    // board's hardware delivers it.
    bool holdsSubframe(const uint8_t* frame, int part, uint64_t sensorFrame, int subframe);
};

// The 12-bit samples the chip synthesises for a sub-frame at its active size.
std::vector<uint16_t> synthesised(sim::SimBoard& board, uint64_t frame, int subframe,
                                  bool shortRange);

// A sample as the board's hardware hands it over in a 16-bit word (MSB-aligned on the
// Jetson Xavier/Orin, low bits otherwise).
uint16_t deliveredWord(sim::BoardKind kind, uint16_t sample);

// Samples of `frame` (little-endian words from `first`) that differ from `expected`.
int wordMismatches(sim::BoardKind kind, const uint8_t* frame, size_t first,
                   const std::vector<uint16_t>& expected, size_t count);

// The signed 11-bit phase value of a 12-bit HQVGA sample.
int phaseValue(uint16_t sample);

// Depth of a 240x180 frame against the scene's ground truth.
struct DepthCheck {
    int validPixels = 0;
    double medianRelativeError = 1.0;
    int pixelsBeyondBound = 0;
    std::string worst;  // the worst pixel beyond its bound, described

    // Enough valid pixels, a median within 1 % and none beyond its bound.
    bool matchesScene() const {
        return validPixels >= 30000 && medianRelativeError < 0.01 && pixelsBeyondBound == 0;
    }
};
DepthCheck checkHqvgaDepth(sim::SimBoard& board, const float* depth, bool shortRange);

// Memory of `size` bytes that ends at an inaccessible page: touching a byte past the end
// crashes the test instead of passing unnoticed.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size, uint8_t fill = 0);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    uint8_t* data() { return begin; }
    size_t size() const { return length; }

private:
    uint8_t* region = nullptr;
    size_t regionLength = 0;
    uint8_t* begin = nullptr;
    size_t length = 0;
};

}  // namespace csitest
}  // namespace Quarvel
