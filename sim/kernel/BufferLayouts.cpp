// Per-board buffer layouts of 12-bit samples.
#include "sim/kernel/BufferLayouts.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace Quarvel {
namespace sim {

namespace {

constexpr size_t kBlock = 960;
constexpr size_t kPiece = 480;
constexpr size_t kHead = 448;
constexpr size_t kTail = 32;

void putWord(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t msbAligned(uint16_t value) {
    value &= 0x0FFF;
    return static_cast<uint16_t>((value << 4) | (value >> 8));
}

}  // namespace

uint32_t strideFor(BufferLayout layout, uint32_t width, uint32_t alignment) {
    const uint32_t packed = layout == BufferLayout::Y12P ? width * 3 / 2 : width * 2;
    if (alignment <= 1) return packed;
    return (packed + alignment - 1) / alignment * alignment;
}

void encodeSubframe(BufferLayout layout, const uint16_t* samples, uint32_t width, uint32_t height,
                    uint32_t bytesPerLine, uint8_t* buffer, size_t length) {
    std::memset(buffer, 0, length);
    if (layout == BufferLayout::Y12P) {
        const size_t packedLine = static_cast<size_t>(width) * 3 / 2;
        for (uint32_t line = 0; line < height; ++line) {
            const size_t start = static_cast<size_t>(line) * bytesPerLine;
            if (start + packedLine > length) break;
            uint8_t* out = buffer + start;
            const uint16_t* in = samples + static_cast<size_t>(line) * width;
            for (uint32_t x = 0; x + 1 < width; x += 2) {
                const uint16_t first = in[x] & 0x0FFF;
                const uint16_t second = in[x + 1] & 0x0FFF;
                out[0] = static_cast<uint8_t>(first >> 4);
                out[1] = static_cast<uint8_t>(second >> 4);
                out[2] = static_cast<uint8_t>((first & 0x0F) | ((second & 0x0F) << 4));
                out += 3;
            }
        }
        return;
    }

    const bool msb = layout == BufferLayout::Y12MsbAlignedBlocks;
    const size_t packedLine = static_cast<size_t>(width) * 2;
    if (msb && bytesPerLine == packedLine) {
        // The VI writes the unpadded image as one stream of 960-byte blocks.
        const size_t total = std::min(packedLine * height, length);
        std::vector<uint8_t> stream(packedLine * height);
        for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
            putWord(&stream[2 * i], msbAligned(samples[i]));
        }
        size_t k = 0;
        for (; k + kBlock <= total; k += kBlock) {
            const uint8_t* a = &stream[k];
            const uint8_t* b = &stream[k + kPiece];
            uint8_t* out = buffer + k;
            std::memcpy(out, a, kHead);
            std::memcpy(out + kHead, b, kHead);
            std::memcpy(out + 2 * kHead, a + kHead, kTail);
            std::memcpy(out + 2 * kHead + kTail, b + kHead, kTail);
        }
        if (k < total) std::memcpy(buffer + k, &stream[k], total - k);
        return;
    }
    for (uint32_t line = 0; line < height; ++line) {
        const size_t start = static_cast<size_t>(line) * bytesPerLine;
        if (start + packedLine > length) break;
        const uint16_t* in = samples + static_cast<size_t>(line) * width;
        for (uint32_t x = 0; x < width; ++x) {
            putWord(buffer + start + 2 * x, msb ? msbAligned(in[x]) : (in[x] & 0x0FFF));
        }
    }
}

}  // namespace sim
}  // namespace Quarvel
