// The CSI sub-frame copies (plain, 512-byte line stride, Jetson block reorder) over any
// buffer length, destination capacity and write position; each against the layout it
// undoes, byte for byte, and never outside either buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "sensor/SubframeCopy.h"

using namespace Quarvel;

namespace {

constexpr uint8_t kUntouched = 0xA5;

// The bytes a routine would produce with unlimited room, straight from the layout.
std::vector<uint8_t> unboundedOutput(int routine, const uint8_t* source, size_t length) {
    std::vector<uint8_t> out;
    if (routine == 0) {
        out.assign(source, source + length);
    } else if (routine == 1) {
        // Lines of 480 bytes at a stride of 512; a last short line as far as it goes.
        for (size_t k = 0; k < length; k += 512) {
            out.insert(out.end(), source + k, source + std::min(length, k + 480));
        }
    } else {
        // Blocks hold A[0..447] B[0..447] A[448..479] B[448..479]; output is A then B. A
        // last short block is copied as it is.
        size_t k = 0;
        for (; k + 960 <= length; k += 960) {
            const uint8_t* block = source + k;
            out.insert(out.end(), block, block + 448);
            out.insert(out.end(), block + 896, block + 928);
            out.insert(out.end(), block + 448, block + 896);
            out.insert(out.end(), block + 928, block + 960);
        }
        out.insert(out.end(), source + k, source + length);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int routine = input.ConsumeIntegralInRange(0, 2);
    const SubframeCopy copies[] = {copyPlain, copyLineStride, copyBlockReorder};
    // Lengths near the multiples the routines work in are the interesting ones.
    const size_t unit = routine == 1 ? 512 : routine == 2 ? 960 : 64;
    const long units = input.ConsumeIntegralInRange<long>(0, 8);
    const long length =
        units * static_cast<long>(unit) + input.ConsumeIntegralInRange<long>(-40, 40);
    const size_t sourceLength = length > 0 ? static_cast<size_t>(length) : 0;
    const size_t capacity = input.ConsumeBool() ? input.ConsumeIntegralInRange<size_t>(0, 9000)
                                                : std::max<size_t>(sourceLength, 1) - 1 +
                                                      input.ConsumeIntegralInRange<size_t>(0, 2);
    size_t position =
        input.ConsumeBool() ? 0 : input.ConsumeIntegralInRange<size_t>(0, capacity + 8);
    const uint32_t width = input.ConsumeIntegral<uint32_t>();

    // Exactly sized heap blocks: AddressSanitizer catches a byte read or written past either.
    std::vector<uint8_t> source(sourceLength);
    const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(sourceLength);
    for (size_t i = 0; i < sourceLength; ++i) {
        source[i] = bytes.empty() ? static_cast<uint8_t>(i * 7) : bytes[i % bytes.size()];
    }
    std::vector<uint8_t> destination(capacity, kUntouched);
    uint8_t* sourceData = sourceLength > 0 ? source.data() : nullptr;
    uint8_t* destinationData = capacity > 0 ? destination.data() : nullptr;

    const size_t start = position;
    copies[routine](sourceData, sourceLength, destinationData, capacity, width, &position);

    const std::vector<uint8_t> expected = unboundedOutput(routine, source.data(), sourceLength);
    const size_t room = start < capacity ? capacity - start : 0;
    const size_t written = std::min(expected.size(), room);
    FUZZ_CHECK(position == start + written);
    for (size_t i = 0; i < capacity; ++i) {
        if (i >= start && i < start + written) {
            FUZZ_CHECK(destination[i] == expected[i - start]);
        } else {
            FUZZ_CHECK(destination[i] == kUntouched);
        }
    }
    return 0;
}
