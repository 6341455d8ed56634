// The USB transport's sample conversion over any bit width, bytes per sample, frame size and
// destination capacity the SDK may report, against the conversion table sample by sample.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "sensor/QuarvelTOFUSBSensor.h"

using namespace Quarvel;

namespace {

constexpr uint8_t kUntouched = 0xA5;

uint16_t wordAt(const std::vector<uint8_t>& bytes, size_t index) {
    return static_cast<uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

// One output sample by the table: the 12-bit value of a source sample.
uint16_t converted(uint16_t word, uint32_t bitWidth) {
    if (bitWidth == 12) return word;
    if (bitWidth < 12) return static_cast<uint16_t>(word << (12 - bitWidth));
    const uint32_t shift = bitWidth - 12;
    return shift >= 16 ? 0 : static_cast<uint16_t>(word >> shift);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t bitWidth = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, 40)
                                                  : input.ConsumeIntegral<uint32_t>();
    const uint32_t bytesPerSample = input.ConsumeBool() ? input.ConsumeIntegralInRange(1u, 2u)
                                                        : input.ConsumeIntegral<uint32_t>();
    const size_t sourceBytes = input.ConsumeIntegralInRange<size_t>(0, 4096);
    const bool eightBit = bitWidth == 8 && bytesPerSample == 1;
    const size_t produced = eightBit ? 2 * sourceBytes : sourceBytes;
    // Around the size needed, or anything.
    const size_t near = produced + input.ConsumeIntegralInRange<size_t>(0, 2);
    const size_t capacity = input.ConsumeBool() ? (near > 0 ? near - 1 : 0)
                                                : input.ConsumeIntegralInRange<size_t>(0, 9000);
    const bool noDestination = input.ConsumeIntegralInRange(0, 15) == 0;

    const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(sourceBytes);
    std::vector<uint8_t> source(sourceBytes);
    for (size_t i = 0; i < sourceBytes; ++i) {
        source[i] = bytes.empty() ? static_cast<uint8_t>(i * 31 + 7) : bytes[i % bytes.size()];
    }
    std::vector<uint8_t> destination(capacity, kUntouched);
    const size_t result = QuarvelTOFUSBSensor::convertSamples(
        sourceBytes > 0 ? source.data() : nullptr, sourceBytes, bitWidth, bytesPerSample,
        noDestination || capacity == 0 ? nullptr : destination.data(),
        noDestination ? 0 : capacity);

    // The output always advances by what the conversion would produce.
    FUZZ_CHECK(result == produced);
    const bool writes =
        !noDestination && capacity > 0 && produced <= capacity && (eightBit || bytesPerSample == 2);
    std::vector<uint8_t> expected(capacity, kUntouched);
    if (writes && eightBit) {
        for (size_t i = 0; i < sourceBytes; ++i) {
            const uint16_t sample = static_cast<uint16_t>(source[i] << 4);
            expected[2 * i] = static_cast<uint8_t>(sample & 0xFF);
            expected[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
        }
    } else if (writes) {
        for (size_t i = 0; i < sourceBytes / 2; ++i) {
            const uint16_t sample = converted(wordAt(source, i), bitWidth);
            expected[2 * i] = static_cast<uint8_t>(sample & 0xFF);
            expected[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
        }
    }
    FUZZ_CHECK(destination == expected);
    return 0;
}
