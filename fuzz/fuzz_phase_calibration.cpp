// Calibration files ("cali.bin") handed to the stand-in phase library: the decoder and the
// library entry point, over arbitrary bytes and over well-formed headers with any payload.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "sdk/phase/si4c.h"
#include "sdk/phase/si4c_calibration_format.h"
#include "sdk/phase/src/CalibrationData.h"

using namespace si4c;

namespace {

const float kUntouched = -777.0f;

void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

float floatAt(const uint8_t* at) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(at[i]) << (8 * i);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int width = input.ConsumeIntegralInRange(4, 24);
    const int height = input.ConsumeIntegralInRange(1, 16);
    const size_t pixels = static_cast<size_t>(width) * height;
    const size_t values = SI4C_CALIBRATION_TABLES * pixels;

    std::vector<uint8_t> file;
    if (input.ConsumeBool()) {
        file = input.ConsumeRemainingBytes<uint8_t>();
    } else {
        // The format's header, each field right unless the input bends it, then the payload.
        file.assign(SI4C_CALIBRATION_HEADER_BYTES + values * 4, 0);
        std::memcpy(file.data(), SI4C_CALIBRATION_MAGIC, SI4C_CALIBRATION_MAGIC_BYTES);
        const uint32_t fields[] = {SI4C_CALIBRATION_VERSION,     SI4C_CALIBRATION_HEADER_BYTES,
                                   static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                   SI4C_CALIBRATION_TABLES,      static_cast<uint32_t>(values * 4)};
        for (size_t i = 0; i < 6; ++i) {
            const bool bend = input.ConsumeIntegralInRange(0, 15) == 0;
            putLe32(file, 8 + 4 * i, bend ? input.ConsumeIntegral<uint32_t>() : fields[i]);
        }
        for (size_t i = 0; i < values; ++i) {
            const float range = calibrationTableRangeMm(static_cast<int>(i / pixels));
            const float offset = input.ConsumeIntegralInRange(0, 31) == 0
                                     ? input.ConsumeFloatingPoint<float>()
                                     : input.ConsumeFloatingPointInRange(-range, range);
            uint32_t bits;
            std::memcpy(&bits, &offset, sizeof bits);
            putLe32(file, SI4C_CALIBRATION_HEADER_BYTES + 4 * i, bits);
        }
        const size_t cut = input.ConsumeIntegralInRange<size_t>(0, 3);
        if (cut == 1) file.pop_back();
        if (cut == 2) file.push_back(0);
    }

    std::vector<float> tables(values, kUntouched);
    // An exactly sized copy: a read past the file's end is caught.
    std::vector<uint8_t> exact(file);
    const bool accepted = decodeCalibration(exact.empty() ? nullptr : exact.data(), exact.size(),
                                            width, height, tables.data(), tables.size());
    if (accepted) {
        FUZZ_CHECK(exact.size() == SI4C_CALIBRATION_HEADER_BYTES + values * 4);
        FUZZ_CHECK(std::memcmp(exact.data(), SI4C_CALIBRATION_MAGIC, 8) == 0);
        for (size_t i = 0; i < values; ++i) {
            const float range = calibrationTableRangeMm(static_cast<int>(i / pixels));
            const float stored = floatAt(exact.data() + SI4C_CALIBRATION_HEADER_BYTES + 4 * i);
            FUZZ_CHECK(std::isfinite(tables[i]) && std::fabs(tables[i]) < range);
            FUZZ_CHECK(std::memcmp(&tables[i], &stored, sizeof stored) == 0);
        }
    } else {
        for (float value : tables) FUZZ_CHECK(value == kUntouched);
    }
    // Too little room for the tables: refused, nothing written.
    if (values > 0) {
        std::vector<float> small(values - 1, kUntouched);
        FUZZ_CHECK(!decodeCalibration(exact.empty() ? nullptr : exact.data(), exact.size(), width,
                                      height, small.data(), small.size()));
        for (float value : small) FUZZ_CHECK(value == kUntouched);
    }

    // Through the library: the same verdict, and a stream that starts either way.
    SiSDKHandle handle = nullptr;
    FUZZ_CHECK(SiSDKCreate(&handle));
    FUZZ_CHECK(SiSDKInit(handle, width, height));
    FUZZ_CHECK(SiSDKSetCaliData(handle, exact.empty() ? nullptr : exact.data(), exact.size()) ==
               accepted);
    FUZZ_CHECK(SiSDKStart(handle));
    SiSDKDestroy(&handle);
    FUZZ_CHECK(handle == nullptr);
    return 0;
}
