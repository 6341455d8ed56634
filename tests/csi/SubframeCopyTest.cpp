// The four sub-frame copy routines: known layouts in, known bytes out, and never a byte read
// or written outside the source or the destination.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sensor/SubframeCopy.h"
#include "tests/csi/CsiTestSupport.h"

using namespace Quarvel;
using csitest::GuardedBuffer;

namespace {

uint8_t patternByte(size_t i) { return static_cast<uint8_t>((i * 7 + 3) & 0xFF); }

void fillPattern(uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) data[i] = patternByte(i);
}

uint16_t wordAt(const uint8_t* data, size_t sample) {
    return static_cast<uint16_t>(data[2 * sample] | (data[2 * sample + 1] << 8));
}

// Y12P bytes for 12-bit pixels, lines padded to `stride`, written from the packing rule:
// high 8 bits of each pixel first, then the low nibbles (second pixel's in bits 4..7).
std::vector<uint8_t> packY12P(const std::vector<uint16_t>& pixels, size_t width, size_t height,
                              size_t stride) {
    std::vector<uint8_t> bytes(stride * height, 0);
    for (size_t line = 0; line < height; ++line) {
        for (size_t x = 0; x < width; x += 2) {
            const uint16_t a = pixels[line * width + x];
            const uint16_t b = pixels[line * width + x + 1];
            uint8_t* out = &bytes[line * stride + x / 2 * 3];
            out[0] = static_cast<uint8_t>(a >> 4);
            out[1] = static_cast<uint8_t>(b >> 4);
            out[2] = static_cast<uint8_t>((a & 0xF) | ((b & 0xF) << 4));
        }
    }
    return bytes;
}

}  // namespace

TEST(PlainCopy, CopiesTheWholeBufferAndAdvancesByItsLength) {
    GuardedBuffer source(1000);
    fillPattern(source.data(), source.size());
    GuardedBuffer destination(3000);
    size_t position = 1000;
    copyPlain(source.data(), source.size(), destination.data(), destination.size(), 240, &position);
    EXPECT_EQ(position, 2000u);
    EXPECT_EQ(std::memcmp(destination.data() + 1000, source.data(), 1000), 0);
    EXPECT_EQ(destination.data()[999], 0);
    EXPECT_EQ(destination.data()[2000], 0);
}

TEST(PlainCopy, ADriverBufferLargerThanTheFrameStopsAtTheFrameEnd) {
    GuardedBuffer source(5000);
    fillPattern(source.data(), source.size());
    GuardedBuffer destination(4096);
    size_t position = 4000;
    copyPlain(source.data(), source.size(), destination.data(), destination.size(), 240, &position);
    EXPECT_EQ(position, 4096u);
    EXPECT_EQ(std::memcmp(destination.data() + 4000, source.data(), 96), 0);
    // A full frame takes nothing more.
    copyPlain(source.data(), source.size(), destination.data(), destination.size(), 240, &position);
    EXPECT_EQ(position, 4096u);
}

TEST(LineStrideCopy, FourBuffersOf92160BytesMakeOneFrameOf345600BytesWithoutPadding) {
    GuardedBuffer frame(4 * 180 * 480);
    size_t position = 0;
    for (int sub = 0; sub < 4; ++sub) {
        GuardedBuffer source(92160);
        for (size_t line = 0; line < 180; ++line) {
            for (size_t byte = 0; byte < 512; ++byte) {
                // Line bytes carry (sub, line, byte); padding is 0xFF and must not show up.
                source.data()[line * 512 + byte] =
                    byte < 480 ? static_cast<uint8_t>(sub * 61 + line * 7 + byte) : 0xFF;
            }
        }
        copyLineStride(source.data(), source.size(), frame.data(), frame.size(), 240, &position);
    }
    EXPECT_EQ(position, 345600u);
    for (size_t sub = 0; sub < 4; ++sub) {
        for (size_t line = 0; line < 180; ++line) {
            for (size_t byte = 0; byte < 480; byte += 47) {
                ASSERT_EQ(frame.data()[(sub * 180 + line) * 480 + byte],
                          static_cast<uint8_t>(sub * 61 + line * 7 + byte));
            }
        }
    }
}

TEST(LineStrideCopy, ALengthThatIsNotAWholeStrideReadsOnlyWhatIsThere) {
    GuardedBuffer source(512 + 100);
    fillPattern(source.data(), source.size());
    GuardedBuffer destination(2000);
    size_t position = 0;
    copyLineStride(source.data(), source.size(), destination.data(), destination.size(), 240,
                   &position);
    EXPECT_EQ(position, 480u + 100u);
    EXPECT_EQ(std::memcmp(destination.data() + 480, source.data() + 512, 100), 0);
}

TEST(BlockReorderCopy, RestoresBothPiecesOfEveryBlock) {
    // Two pieces per block: A = bytes 0..479 of the image, B = bytes 480..959, stored as
    // A head, B head, A tail, B tail.
    std::vector<uint8_t> image(3 * 960);
    fillPattern(image.data(), image.size());
    GuardedBuffer source(image.size());
    for (size_t k = 0; k < image.size(); k += 960) {
        uint8_t* out = source.data() + k;
        std::memcpy(out, &image[k], 448);
        std::memcpy(out + 448, &image[k + 480], 448);
        std::memcpy(out + 896, &image[k + 448], 32);
        std::memcpy(out + 928, &image[k + 928], 32);
    }
    GuardedBuffer destination(image.size());
    size_t position = 0;
    copyBlockReorder(source.data(), source.size(), destination.data(), destination.size(), 640,
                     &position);
    EXPECT_EQ(position, image.size());
    EXPECT_EQ(std::memcmp(destination.data(), image.data(), image.size()), 0);
}

TEST(BlockReorderCopy, ALengthThatIsNotAMultipleOf960CopiesItsTailAsItIs) {
    const size_t length = 2 * 960 + 640;  // like a 640 x 2405 frame, 3206 blocks and 640
    GuardedBuffer source(length);
    fillPattern(source.data(), length);
    GuardedBuffer destination(length);
    size_t position = 0;
    copyBlockReorder(source.data(), length, destination.data(), destination.size(), 640, &position);
    EXPECT_EQ(position, length);
    EXPECT_EQ(std::memcmp(destination.data() + 1920, source.data() + 1920, 640), 0);
}

TEST(BlockReorderCopy, ADestinationShorterThanABlockTakesOnlyWhatFits) {
    GuardedBuffer source(960);
    fillPattern(source.data(), 960);
    GuardedBuffer destination(700);
    size_t position = 0;
    copyBlockReorder(source.data(), 960, destination.data(), destination.size(), 640, &position);
    EXPECT_EQ(position, 700u);
    EXPECT_EQ(std::memcmp(destination.data(), source.data(), 448), 0);
}

TEST(Y12PUnpack, WidthOf240SkipsTheEightPaddingBytesOfEveryLine) {
    const size_t width = 240;
    const size_t height = 180;
    std::vector<uint16_t> pixels(width * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>((i * 37) & 0xFFF);
    const std::vector<uint8_t> packed = packY12P(pixels, width, height, 368);  // 360 + 8
    GuardedBuffer source(packed.size());
    std::memcpy(source.data(), packed.data(), packed.size());
    GuardedBuffer destination(width * height * 2);
    size_t position = 0;
    unpackY12P(source.data(), source.size(), destination.data(), destination.size(), width,
               &position);
    EXPECT_EQ(position, width * height);  // counted in samples
    int mismatches = 0;
    for (size_t i = 0; i < pixels.size(); ++i)
        mismatches += wordAt(destination.data(), i) != pixels[i];
    EXPECT_EQ(mismatches, 0);
}

TEST(Y12PUnpack, WidthOf640HasNoPaddingAndLeavesTheBuffersLastEightBytesUnread) {
    const size_t width = 640;
    const size_t height = 4;
    std::vector<uint16_t> pixels(width * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>((i * 91) & 0xFFF);
    const std::vector<uint8_t> packed = packY12P(pixels, width, height, 960);
    GuardedBuffer source(packed.size());
    std::memcpy(source.data(), packed.data(), packed.size());
    GuardedBuffer destination(width * height * 2, 0xAB);
    size_t position = 0;
    unpackY12P(source.data(), source.size(), destination.data(), destination.size(), width,
               &position);
    // Unpacking stops once fewer than 8 source bytes remain: the last 6 bytes (4 samples).
    EXPECT_EQ(position, width * height - 4);
    for (size_t i = 0; i < position; ++i) ASSERT_EQ(wordAt(destination.data(), i), pixels[i]);
    EXPECT_EQ(wordAt(destination.data(), position), 0xABAB);
}

TEST(Y12PUnpack, BuffersOfEightBytesOrFewerWriteNothing) {
    for (size_t length : {0u, 1u, 3u, 7u, 8u}) {
        GuardedBuffer source(length == 0 ? 1 : length, 0x55);
        GuardedBuffer destination(64, 0xCD);
        size_t position = 0;
        unpackY12P(source.data(), length, destination.data(), destination.size(), 240, &position);
        EXPECT_EQ(position, 0u) << length;
        EXPECT_EQ(destination.data()[0], 0xCD) << length;
    }
}

TEST(Y12PUnpack, ADestinationShorterThanTheBufferStopsAtItsEnd) {
    GuardedBuffer source(368 * 4, 0x77);
    GuardedBuffer destination(100);  // 50 samples
    size_t position = 0;
    unpackY12P(source.data(), source.size(), destination.data(), destination.size(), 240,
               &position);
    EXPECT_EQ(position, 50u);
}

TEST(Y12PUnpack, PaddingThatReachesPastTheEndIsNotRead) {
    // Width 2: lines of 3 bytes padded to 16. After the first line the padding skip lands
    // beyond a 12-byte buffer; nothing there may be read.
    GuardedBuffer source(12, 0x12);
    GuardedBuffer destination(200);
    size_t position = 0;
    unpackY12P(source.data(), source.size(), destination.data(), destination.size(), 2, &position);
    EXPECT_EQ(position, 2u);
}
