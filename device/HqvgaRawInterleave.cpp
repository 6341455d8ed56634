// Vectorisable raw interleave of the 240x180 sensor (same output as rawInterleaveReference).
#include <cstring>

#include "core/InstructionSetClones.h"
#include "device/HqvgaKernels.h"

namespace Quarvel {
namespace hqvga {

namespace {

// One line of one sub-frame: 240 samples to 240 values, both bounded by kWidth.
inline void convertLine(const uint8_t* __restrict source, unsigned rawShift,
                        int16_t* __restrict out) {
    for (int column = 0; column < kWidth; ++column) {
        uint16_t sample;
        std::memcpy(&sample, source + 2 * column, sizeof sample);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        sample = static_cast<uint16_t>((sample >> 8) | (sample << 8));
#endif
        // The 11-bit field moved to the top of a 16-bit word and back down by one bit:
        // sign-extended and multiplied by 16 in two shifts.
        const uint16_t top = static_cast<uint16_t>((sample >> rawShift) << 5);
        out[column] = static_cast<int16_t>(static_cast<int16_t>(top) >> 1);
    }
}

inline __attribute__((always_inline)) void rawInterleaveAtLevelBody(const uint8_t* raw,
                                                                    unsigned rawShift,
                                                                    int16_t* rawPlane) {
    constexpr size_t kSubframeBytes = 2 * static_cast<size_t>(kPixels);
    constexpr size_t kLineBytes = 2 * static_cast<size_t>(kWidth);
    for (int line = 0; line < kHeight; ++line) {
        for (int sub = 0; sub < kSubframes; ++sub) {
            convertLine(raw + sub * kSubframeBytes + line * kLineBytes, rawShift,
                        rawPlane + static_cast<size_t>(kSubframes * line + sub) * kWidth);
        }
    }
}

QUARVEL_LEVEL_BUILDS(void, rawInterleaveAtLevel,
                     (const uint8_t* raw, unsigned rawShift, int16_t* rawPlane),
                     (raw, rawShift, rawPlane))

}  // namespace

void rawInterleave(const uint8_t* raw, unsigned rawShift, int16_t* rawPlane) {
    rawInterleaveAtLevel(raw, rawShift, rawPlane);
}

}  // namespace hqvga
}  // namespace Quarvel
