// The lookup's contract checked against the adapter list it is built on.
#include "fuzz/support/BusLookupChecks.h"

#include <cstdlib>

#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/StderrCapture.h"

namespace Quarvel {
namespace fuzz {

namespace {

constexpr int kMaxBus = 0xFFFFF;

// The "Error: " lines of a message, in order.
std::vector<std::string> errorLines(const std::string& message) {
    std::vector<std::string> errors;
    size_t at = 0;
    while (at < message.size()) {
        size_t end = message.find('\n', at);
        end = end == std::string::npos ? message.size() : end + 1;
        const std::string line = message.substr(at, end - at);
        if (line.compare(0, 7, "Error: ") == 0) errors.push_back(line);
        at = end;
    }
    return errors;
}

}  // namespace

void checkAdapterList(const std::vector<I2cAdapterEntry>& adapters) {
    for (const I2cAdapterEntry& adapter : adapters) {
        FUZZ_CHECK(adapter.bus >= 0 && adapter.bus <= kMaxBus);
        FUZZ_CHECK(adapter.name.find('\n') == std::string::npos);
        FUZZ_CHECK(adapter.name.find('\0') == std::string::npos);
    }
}

void checkLookupAgainstList(SystemCalls& system, const std::string& text,
                            const std::vector<I2cAdapterEntry>& adapters) {
    int bus = 0;
    const std::string message = capturedStderr([&] { bus = lookupI2cBus(system, text.c_str()); });
    const std::vector<std::string> errors = errorLines(message);

    char* end = nullptr;
    const unsigned long number = std::strtoul(text.c_str(), &end, 0);
    if (!text.empty() && *end == '\0') {
        if (number > kMaxBus) {
            FUZZ_CHECK(bus < 0);
            FUZZ_CHECK(message == "Error: I2C bus out of range!\n");
        } else {
            FUZZ_CHECK(bus == static_cast<int>(number));
            FUZZ_CHECK(message.empty());
        }
        return;
    }
    int matches = 0;
    int matchedBus = -1;
    // An empty text names nothing, whatever adapters have empty names.
    for (const I2cAdapterEntry& adapter : adapters) {
        if (text.empty() || adapter.name != text) continue;
        if (++matches == 1) matchedBus = adapter.bus;
    }
    if (matches == 1) {
        FUZZ_CHECK(bus == matchedBus);
        FUZZ_CHECK(errors.empty());
    } else if (matches == 0) {
        FUZZ_CHECK(bus < 0);
        FUZZ_CHECK(errors.size() == 1 &&
                   errors[0] == "Error: I2C bus name doesn't match any bus present!\n");
    } else {
        FUZZ_CHECK(bus < 0);
        FUZZ_CHECK(errors.size() == 1 && errors[0] == "Error: I2C bus name is not unique!\n");
    }
}

}  // namespace fuzz
}  // namespace Quarvel
