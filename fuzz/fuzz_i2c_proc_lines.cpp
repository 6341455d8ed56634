// Lines of /proc/bus/i2c: the adapter list taken from them and the lookup by adapter name.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/support/BusLookupChecks.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/FuzzedSystem.h"
#include "sensor/I2cBusLookup.h"

using namespace Quarvel;

namespace {

constexpr size_t kLineLimit = 119;  // characters the lookup reads per line

// A field without the separators of the format.
std::string withoutSeparators(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\0') c = ' ';
    }
    return text;
}

std::string field(FuzzedDataProvider& input, size_t maxLength) {
    return withoutSeparators(input.ConsumeRandomLengthString(maxLength));
}

std::string withoutTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool structured = input.ConsumeBool();
    std::string lookupText = input.ConsumeRandomLengthString(48);
    lookupText.resize(std::char_traits<char>::length(lookupText.c_str()));

    std::string file;
    std::vector<I2cAdapterEntry> expected;
    bool expectationHolds = structured;
    if (structured) {
        // Lines as the kernel writes them ("i2c-%d\t%-9s\t%-32s\t%-14s\n"), with hostile fields.
        const int count = input.ConsumeIntegralInRange(0, 12);
        for (int i = 0; i < count; ++i) {
            const int bus = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 40)
                                                : input.ConsumeIntegral<int>();
            const std::string type = field(input, 12);
            std::string name = field(input, 40);
            if (input.ConsumeBool()) name = withoutSeparators(lookupText);
            const std::string algorithm = field(input, 16);
            char line[256];
            const int length = std::snprintf(line, sizeof line, "i2c-%d\t%-9s\t%-32s\t%-14s\n", bus,
                                             type.c_str(), name.c_str(), algorithm.c_str());
            if (length < 0 || static_cast<size_t>(length) > kLineLimit) expectationHolds = false;
            file += line;
            if (bus >= 0 && bus <= 0xFFFFF) expected.push_back({bus, withoutTrailingBlanks(name)});
        }
    } else {
        file = input.ConsumeRemainingBytesAsString();
    }

    fuzz::FuzzedSystem system;
    system.addFile("/proc/bus/i2c", file);
    const std::vector<I2cAdapterEntry> adapters = listI2cAdapters(system);
    fuzz::checkAdapterList(adapters);
    if (expectationHolds) {
        FUZZ_CHECK(adapters.size() == expected.size());
        for (size_t i = 0; i < adapters.size(); ++i) {
            FUZZ_CHECK(adapters[i].bus == expected[i].bus);
            FUZZ_CHECK(adapters[i].name == expected[i].name);
        }
    }
    fuzz::checkLookupAgainstList(system, lookupText, adapters);
    return 0;
}
