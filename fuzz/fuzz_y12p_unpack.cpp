// Packed 12-bit (Y12P) lines: the sub-frame unpacking over any width, padding, buffer length,
// capacity and write position against the one-pair-at-a-time rule, and every vector build of
// the line unpacking against each other, never outside either buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "sensor/SubframeCopy.h"
#include "sensor/Y12PLines.h"

using namespace Quarvel;

namespace {

constexpr uint8_t kUntouched = 0xA5;

// Exactly `size` bytes: the input's next bytes, repeated when there are fewer.
std::vector<uint8_t> filled(FuzzedDataProvider& input, size_t size) {
    const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(size);
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = bytes.empty() ? static_cast<uint8_t>(i * 29 + 3) : bytes[i % bytes.size()];
    }
    return out;
}

void storeSample(std::vector<uint8_t>& out, size_t sample, uint16_t value) {
    out[2 * sample] = static_cast<uint8_t>(value & 0xFF);
    out[2 * sample + 1] = static_cast<uint8_t>(value >> 8);
}

// The rule, one pair at a time: the last 8 bytes are never read, each line's padding up to
// a multiple of 16 bytes is skipped, and a pair is written only where both samples fit.
size_t unpackByRule(const std::vector<uint8_t>& source, uint32_t width, size_t position,
                    std::vector<uint8_t>& out) {
    if (source.size() <= 8) return position;
    const size_t lineBytes = static_cast<size_t>(width) * 3 / 2;
    const size_t padding = (16 - lineBytes % 16) % 16;
    const size_t end = source.size() - 8;
    const size_t samples = out.size() / 2;
    size_t s = 0;
    size_t o = position;
    while (s < end && o + 2 <= samples) {
        const uint8_t b0 = source[s], b1 = source[s + 1], b2 = source[s + 2];
        storeSample(out, o, static_cast<uint16_t>((b0 << 4) | (b2 & 0x0F)));
        storeSample(out, o + 1, static_cast<uint16_t>((b1 << 4) | (b2 >> 4)));
        s += 3;
        o += 2;
        if (padding != 0 && width != 0 && o % width == 0) s += padding;
    }
    return o;
}

void checkSubframeUnpack(FuzzedDataProvider& input) {
    const uint32_t width = input.ConsumeBool() ? 2 * input.ConsumeIntegralInRange<uint32_t>(0, 400)
                                               : input.ConsumeIntegralInRange<uint32_t>(0, 1000);
    const size_t lineBytes = static_cast<size_t>(width) * 3 / 2;
    const size_t stride = (lineBytes + 15) / 16 * 16;
    const size_t lines = input.ConsumeIntegralInRange<size_t>(0, 6);
    const size_t length = lines * stride + 8 + input.ConsumeIntegralInRange<int>(-24, 24);
    const size_t sourceLength = length > (1u << 20) ? 0 : length;  // wrapped below zero
    const size_t capacity = input.ConsumeBool()
                                ? 2 * lines * width + input.ConsumeIntegralInRange<size_t>(0, 5)
                                : input.ConsumeIntegralInRange<size_t>(0, 12000);
    const size_t position = input.ConsumeBool() ? 0 : input.ConsumeIntegralInRange<size_t>(0, 4000);

    const std::vector<uint8_t> source = filled(input, sourceLength);
    std::vector<uint8_t> destination(capacity, kUntouched);
    std::vector<uint8_t> expected(capacity, kUntouched);
    size_t advanced = position;
    unpackY12P(sourceLength > 0 ? source.data() : nullptr, sourceLength,
               capacity > 0 ? destination.data() : nullptr, capacity, width, &advanced);
    FUZZ_CHECK(advanced == unpackByRule(source, width, position, expected));
    FUZZ_CHECK(destination == expected);
}

void checkLineVariants(FuzzedDataProvider& input) {
    const size_t pairs = input.ConsumeIntegralInRange<size_t>(0, 80);
    const size_t stride = 3 * pairs + input.ConsumeIntegralInRange<size_t>(0, 40);
    const size_t lines = input.ConsumeIntegralInRange<size_t>(0, 5);
    // Exactly the bytes the lines span: the last line ends the buffer.
    const size_t packedBytes = lines == 0 ? 0 : (lines - 1) * stride + 3 * pairs;
    const std::vector<uint8_t> packed = filled(input, packedBytes);
    std::vector<uint8_t> expected(4 * pairs * lines);
    for (size_t k = 0; k < lines; ++k) {
        for (size_t j = 0; j < pairs; ++j) {
            const uint8_t* pair = packed.data() + k * stride + 3 * j;
            const size_t sample = k * 2 * pairs + 2 * j;
            storeSample(expected, sample, static_cast<uint16_t>((pair[0] << 4) | (pair[2] & 0x0F)));
            storeSample(expected, sample + 1,
                        static_cast<uint16_t>((pair[1] << 4) | (pair[2] >> 4)));
        }
    }
    size_t count = 0;
    const Y12PLinesVariant* variants = y12pLinesVariants(&count);
    for (size_t v = 0; v < count; ++v) {
        if (!variants[v].supported()) continue;
        std::vector<uint8_t> out(expected.size(), kUntouched);
        variants[v].run(packedBytes > 0 ? packed.data() : nullptr, stride, lines, pairs,
                        out.empty() ? nullptr : out.data());
        FUZZ_CHECK(out == expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        checkSubframeUnpack(input);
    } else {
        checkLineVariants(input);
    }
    return 0;
}
