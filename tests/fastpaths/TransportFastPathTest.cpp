// The vectorised whole-line paths of the transport copy routines give exactly the bytes of
// the plain per-line and per-sample rules, at every size, capacity and start position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "sensor/QuarvelTOFUSBSensor.h"
#include "sensor/SubframeCopy.h"
#include "sensor/Y12PLines.h"

using namespace Quarvel;

namespace {

std::vector<uint8_t> patterned(size_t count, unsigned seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// Plain models, one byte or one sample at a time, from the routines' stated rules.
void modelLineStride(const uint8_t* src, size_t len, uint8_t* dst, size_t cap, size_t* pos) {
    for (size_t k = 0; k < len && *pos < cap; k += 512) {
        for (size_t i = 0; i < 480 && k + i < len && *pos < cap; ++i) dst[(*pos)++] = src[k + i];
    }
}

void modelBlockReorder(const uint8_t* src, size_t len, uint8_t* dst, size_t cap, size_t* pos) {
    size_t k = 0;
    auto put = [&](uint8_t byte) {
        if (*pos < cap) dst[(*pos)++] = byte;
    };
    for (; k + 960 <= len && *pos < cap; k += 960) {
        for (size_t i = 0; i < 448; ++i) put(src[k + i]);
        for (size_t i = 896; i < 928; ++i) put(src[k + i]);
        for (size_t i = 448; i < 896; ++i) put(src[k + i]);
        for (size_t i = 928; i < 960; ++i) put(src[k + i]);
    }
    for (; k < len; ++k) put(src[k]);
}

void modelY12P(const uint8_t* src, size_t len, uint8_t* dst, size_t cap, uint32_t width,
               size_t* pos) {
    if (len <= 8) return;
    const size_t line = static_cast<size_t>(width * 1.5);
    const size_t padding = (line + 15) / 16 * 16 - line;
    size_t s = 0;
    size_t o = *pos;
    while (s < len - 8 && 2 * (o + 2) <= cap) {
        const uint16_t first = static_cast<uint16_t>((src[s] << 4) | (src[s + 2] & 0x0F));
        const uint16_t second = static_cast<uint16_t>((src[s + 1] << 4) | (src[s + 2] >> 4));
        dst[2 * o] = first & 0xFF;
        dst[2 * o + 1] = first >> 8;
        dst[2 * o + 2] = second & 0xFF;
        dst[2 * o + 3] = second >> 8;
        s += 3;
        o += 2;
        if (padding != 0 && width != 0 && o % width == 0) s += padding;
    }
    *pos = o;
}

struct Case {
    size_t sourceLength;
    size_t capacity;
    uint32_t width;
    size_t start;
};

void expectSameAsModel(SubframeCopy routine, const std::vector<Case>& cases,
                       void (*model)(const uint8_t*, size_t, uint8_t*, size_t, uint32_t, size_t*)) {
    unsigned seed = 1;
    for (const Case& c : cases) {
        const auto source = patterned(c.sourceLength, seed++);
        std::vector<uint8_t> expected(c.capacity + 64, 0xEE);
        std::vector<uint8_t> actual(c.capacity + 64, 0xEE);
        size_t expectedPosition = c.start;
        size_t actualPosition = c.start;
        model(source.data(), source.size(), expected.data(), c.capacity, c.width,
              &expectedPosition);
        routine(source.data(), source.size(), actual.data(), c.capacity, c.width, &actualPosition);
        EXPECT_EQ(actualPosition, expectedPosition)
            << "length " << c.sourceLength << " capacity " << c.capacity << " width " << c.width
            << " start " << c.start;
        EXPECT_EQ(actual, expected) << "length " << c.sourceLength << " capacity " << c.capacity
                                    << " width " << c.width << " start " << c.start;
    }
}

}  // namespace

TEST(TransportFastPaths, LineStrideMatchesThePlainRuleAtEverySizeAndCapacity) {
    std::vector<Case> cases;
    for (size_t length : {0ul, 1ul, 479ul, 480ul, 481ul, 512ul, 1000ul, 92160ul, 92160ul - 20})
        for (size_t capacity : {0ul, 100ul, 480ul, 959ul, 86400ul, 86400ul + 7, 200000ul})
            for (size_t start : {0ul, 3ul, 480ul}) cases.push_back({length, capacity, 240, start});
    expectSameAsModel(copyLineStride, cases,
                      [](const uint8_t* s, size_t l, uint8_t* d, size_t c, uint32_t, size_t* p) {
                          modelLineStride(s, l, d, c, p);
                      });
}

TEST(TransportFastPaths, BlockReorderMatchesThePlainRuleAtEverySizeAndCapacity) {
    std::vector<Case> cases;
    for (size_t length : {0ul, 10ul, 959ul, 960ul, 961ul, 1920ul, 2900ul, 614400ul})
        for (size_t capacity : {0ul, 500ul, 960ul, 1919ul, 2900ul, 614400ul, 700000ul})
            for (size_t start : {0ul, 1ul, 960ul}) cases.push_back({length, capacity, 640, start});
    expectSameAsModel(copyBlockReorder, cases,
                      [](const uint8_t* s, size_t l, uint8_t* d, size_t c, uint32_t, size_t* p) {
                          modelBlockReorder(s, l, d, c, p);
                      });
}

TEST(TransportFastPaths, Y12PUnpackMatchesThePlainRuleForPaddedOddAndPartialLines) {
    std::vector<Case> cases;
    // Widths whose lines are shorter than a vector chunk, a whole number of chunks at every
    // vector width, and a whole number plus a rest that the last chunk overlaps.
    for (uint32_t width : {0u, 2u, 7u, 10u, 24u, 40u, 64u, 100u, 240u, 320u, 640u}) {
        const size_t line = static_cast<size_t>(width * 1.5);
        const size_t padded = (line + 15) / 16 * 16;
        for (size_t length : {size_t{0}, size_t{8}, size_t{9}, padded * 3 + 8, padded * 3 + 2,
                              padded * 5 + 8 + padded / 2, padded * 180 + 8})
            for (size_t capacity : {size_t{0}, size_t{6}, 2 * size_t{width} * 2 + 4,
                                    2 * size_t{width} * 180, 2 * size_t{width} * 200 + 2})
                for (size_t start : {size_t{0}, size_t{2}, size_t{width}})
                    cases.push_back({length, capacity, width, start});
    }
    expectSameAsModel(unpackY12P, cases, modelY12P);
}

TEST(TransportFastPaths, EveryY12PLineBuildGivesThePlainRulesBytesAndIgnoresTheGapsBetweenLines) {
    size_t count = 0;
    const Y12PLinesVariant* variants = y12pLinesVariants(&count);
    ASSERT_GE(count, 1u);
    int tested = 0;
    for (size_t v = 0; v < count; ++v) {
        if (!variants[v].supported()) continue;
        ++tested;
        unsigned seed = 7;
        // Pairs per line: shorter than any chunk, whole chunks of every width, and rests.
        for (size_t pairs : {1ul, 3ul, 4ul, 5ul, 8ul, 15ul, 16ul, 17ul, 20ul, 50ul, 120ul, 320ul}) {
            for (size_t lines : {1ul, 3ul}) {
                const size_t lineBytes = 3 * pairs;
                const size_t stride = lineBytes + 5;  // gap bytes that must not be read
                const auto source = patterned(lines * stride, seed++);
                std::vector<uint8_t> expected(4 * pairs * lines + 16, 0xEE);
                for (size_t k = 0; k < lines; ++k) {
                    size_t position = 0;
                    // The model of a single padded-free line, from the routine's rule.
                    modelY12P(source.data() + k * stride, lineBytes + 8,
                              expected.data() + k * 4 * pairs, 4 * pairs, 2 * pairs, &position);
                }
                // Gap bytes changed: the output must not change.
                auto poisoned = source;
                for (size_t k = 0; k < lines; ++k)
                    for (size_t g = lineBytes; g < stride; ++g) poisoned[k * stride + g] ^= 0xFF;
                std::vector<uint8_t> actual(expected.size(), 0xEE);
                variants[v].run(poisoned.data(), stride, lines, pairs, actual.data());
                EXPECT_EQ(actual, expected)
                    << variants[v].name << " pairs " << pairs << " lines " << lines;
            }
        }
    }
    EXPECT_GE(tested, 1);
}

TEST(TransportFastPaths, UsbConversionShiftsEverySampleAtEveryBitWidth) {
    const size_t samples = 640 * 3 + 5;
    for (uint32_t bitWidth : {8u, 10u, 12u, 14u}) {
        const uint32_t bytesPerSample = bitWidth == 8 ? 1 : 2;
        const auto source = patterned(samples * bytesPerSample, bitWidth);
        std::vector<uint8_t> out(samples * 2 + 16, 0xEE);
        const size_t produced = QuarvelTOFUSBSensor::convertSamples(
            source.data(), source.size(), bitWidth, bytesPerSample, out.data(), out.size());
        EXPECT_EQ(produced, bitWidth == 8 ? 2 * source.size() : source.size());
        for (size_t i = 0; i < samples; ++i) {
            const unsigned in =
                bitWidth == 8 ? source[i] : source[2 * i] | (source[2 * i + 1] << 8);
            unsigned want = in;
            if (bitWidth == 8) want = in << 4;
            if (bitWidth == 10) want = (in << 2) & 0xFFFF;
            if (bitWidth == 14) want = in >> 2;
            const unsigned got = out[2 * i] | (out[2 * i + 1] << 8);
            ASSERT_EQ(got, want) << "bit width " << bitWidth << " sample " << i;
        }
        EXPECT_EQ(out[2 * samples], 0xEE);  // nothing beyond the produced bytes
    }
}
