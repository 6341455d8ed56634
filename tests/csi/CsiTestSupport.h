// Helpers shared by the CSI tests: boards, expected samples and depth checks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/kernel/SimBoard.h"

namespace Quarvel {
namespace csitest {

// An unpaced board (sub-frames ready at once) unless `paced`.
std::unique_ptr<sim::SimBoard> makeBoard(sim::BoardKind kind, sim::SimSensor sensor,
                                         bool paced = false);

// The 12-bit samples the chip synthesises for a sub-frame at its active size.
std::vector<uint16_t> synthesised(sim::SimBoard& board, uint64_t frame, int subframe,
                                  bool shortRange);

// A sample as the board's hardware hands it over in a 16-bit word (MSB-aligned on the
// Jetson Xavier/Orin, low bits otherwise).
uint16_t deliveredWord(sim::BoardKind kind, uint16_t sample);

// The signed 11-bit phase value of a 12-bit HQVGA sample.
int phaseValue(uint16_t sample);

// Depth of a 240x180 frame against the scene's ground truth.
struct DepthCheck {
    int validPixels = 0;
    double medianRelativeError = 1.0;
    int pixelsBeyondBound = 0;
    std::string worst;  // the worst pixel beyond its bound, described
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

// Reads stderr produced by `action`.
std::string capturedStderr(const std::function<void()>& action);

}  // namespace csitest
}  // namespace Quarvel
