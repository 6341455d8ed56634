// The USB sample conversion against the plain per-word rule at every bit width, at sizes
// around its 32-word blocks, and with source and destination in one buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sensor/QuarvelTOFUSBSensor.h"

using namespace Quarvel;

namespace {

std::vector<uint8_t> bytesFrom(size_t count, unsigned seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2246822519u + 3;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 23);
    }
    return bytes;
}

// The rule, one little-endian word after the other, reading each word just before writing
// its result (so that it also defines the result when source and destination overlap).
size_t convertPlain(const uint8_t* source, size_t sourceBytes, uint32_t bitWidth,
                    uint32_t bytesPerSample, uint8_t* dst, size_t capacity) {
    if (sourceBytes == 0) return 0;
    if (bitWidth == 8 && bytesPerSample == 1) {
        if (2 * sourceBytes > capacity) return 2 * sourceBytes;
        for (size_t i = 0; i < sourceBytes; ++i) {
            const unsigned sample = source[i] << 4;
            dst[2 * i] = static_cast<uint8_t>(sample & 0xFF);
            dst[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
        }
        return 2 * sourceBytes;
    }
    if (bytesPerSample != 2 || sourceBytes > capacity) return sourceBytes;
    for (size_t i = 0; i < sourceBytes / 2; ++i) {
        const uint32_t word = source[2 * i] | (source[2 * i + 1] << 8);
        uint32_t sample = word;
        if (bitWidth < 12) sample = (word << (12 - bitWidth)) & 0xFFFF;
        if (bitWidth > 12) sample = bitWidth - 12 >= 16 ? 0 : word >> (bitWidth - 12);
        dst[2 * i] = static_cast<uint8_t>(sample & 0xFF);
        dst[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
    }
    return sourceBytes;
}

}  // namespace

TEST(TransportFastPaths, UsbConversionMatchesThePlainRuleAtEveryWidthAndSize) {
    // Shorter than a block, whole blocks (64 bytes each) and blocks plus a rest, odd lengths.
    const size_t sizes[] = {1, 2, 3, 30, 62, 63, 64, 65, 66, 126, 128, 130, 190, 1001, 4098};
    unsigned seed = 1;
    for (uint32_t bitWidth = 1; bitWidth <= 30; ++bitWidth) {
        for (uint32_t bytesPerSample : {1u, 2u}) {
            for (size_t size : sizes) {
                const auto source = bytesFrom(size, seed++);
                const size_t room = 2 * size + 16;
                std::vector<uint8_t> expected(room, 0xEE), actual(room, 0xEE);
                const size_t want = convertPlain(source.data(), size, bitWidth, bytesPerSample,
                                                 expected.data(), 2 * size);
                const size_t got = QuarvelTOFUSBSensor::convertSamples(
                    source.data(), size, bitWidth, bytesPerSample, actual.data(), 2 * size);
                ASSERT_EQ(got, want) << "width " << bitWidth << " size " << size;
                ASSERT_EQ(actual, expected) << "width " << bitWidth << " bytes per sample "
                                            << bytesPerSample << " size " << size;
            }
        }
    }
}

TEST(TransportFastPaths, UsbConversionInOneBufferGivesTheWordByWordResult) {
    // The destination at, just after and just before the source: each word is converted
    // after the ones before it were written.
    for (uint32_t bitWidth : {10u, 14u}) {
        for (size_t size : {64ul, 130ul, 640ul * 2 + 6}) {
            for (long offset : {0l, 2l, -2l, 64l}) {
                const size_t margin = 80;
                const auto initial = bytesFrom(size + 2 * margin, bitWidth + size);
                auto expected = initial;
                auto actual = initial;
                const size_t from = margin;
                const size_t to = static_cast<size_t>(static_cast<long>(margin) + offset);
                const size_t want = convertPlain(expected.data() + from, size, bitWidth, 2,
                                                 expected.data() + to, size);
                const size_t got = QuarvelTOFUSBSensor::convertSamples(
                    actual.data() + from, size, bitWidth, 2, actual.data() + to, size);
                ASSERT_EQ(got, want);
                ASSERT_EQ(actual, expected)
                    << "width " << bitWidth << " size " << size << " offset " << offset;
            }
        }
    }
}
