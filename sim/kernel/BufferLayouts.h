// How each board's capture hardware lays a sub-frame's 12-bit samples out in a buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarvel {
namespace sim {

enum class BufferLayout {
    // V4L2_PIX_FMT_Y12: little-endian 16-bit words, the value in bits 0..11, high bits zero;
    // lines at the driver's stride, padding zero.
    Y12,
    // The Jetson Xavier/Orin VI: 16-bit words with the value in bits 4..15 and its top four
    // bits repeated in bits 0..3. A line without stride padding is written in blocks of
    // 960 bytes, each holding two 480-byte pieces A and B of the image as A[0..447],
    // B[0..447], A[448..479], B[448..479]; a shorter last piece is written as it is.
    Y12MsbAlignedBlocks,
    // V4L2_PIX_FMT_Y12P: two pixels in three bytes, the high 8 bits of each first, then one
    // byte holding the second pixel's low 4 bits in bits 4..7 and the first's in bits 0..3.
    Y12P,
};

// Line stride (bytes per line) the board's driver uses for `width` pixels.
uint32_t strideFor(BufferLayout layout, uint32_t width, uint32_t alignment);

// Writes `width` x `height` samples (row-major, values 0..4095) into `buffer` of `length`
// bytes with lines `bytesPerLine` apart; whatever does not fit is dropped, the rest of the
// buffer is zeroed.
void encodeSubframe(BufferLayout layout, const uint16_t* samples, uint32_t width, uint32_t height,
                    uint32_t bytesPerLine, uint8_t* buffer, size_t length);

}  // namespace sim
}  // namespace Quarvel
