// Chip addresses and bus numbers: parsers of text that comes from device names and users.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/FuzzedSystem.h"
#include "fuzz/support/StderrCapture.h"
#include "sensor/I2cAdapter.h"
#include "sensor/I2cBusLookup.h"

using namespace Quarvel;

namespace {

constexpr int kMaxBus = 0xFFFFF;

int chipAddress(const std::string& text, std::string* message) {
    int result = 0;
    *message = fuzz::capturedStderr([&] { result = parseChipAddress(text.c_str()); });
    return result;
}

int busNumber(SystemCalls& system, const std::string& text, std::string* message) {
    int result = 0;
    *message = fuzz::capturedStderr([&] { result = lookupI2cBus(system, text.c_str()); });
    return result;
}

std::string formatted(const char* format, int value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void checkChipAddress(const std::string& text) {
    std::string message;
    const int address = chipAddress(text, &message);
    if (address == -1) {
        FUZZ_CHECK(message == "Error: Chip address is not a number!\n");
        return;
    }
    if (address == -2) {
        FUZZ_CHECK(message == "Error: Chip address out of range (0x03-0x77)!\n");
        return;
    }
    FUZZ_CHECK(address >= 0x03 && address <= 0x77);
    FUZZ_CHECK(message.empty());
    // The text is the number, whole: it reads back the same in any base.
    char* end = nullptr;
    FUZZ_CHECK(std::strtol(text.c_str(), &end, 0) == address && *end == '\0');
    for (const char* format : {"%d", "0x%x", "0X%02X", "0%o"}) {
        FUZZ_CHECK(chipAddress(formatted(format, address), &message) == address);
    }
}

void checkBusNumber(const std::string& text) {
    fuzz::FuzzedSystem nothing;  // no /proc/bus/i2c, no sysfs: only numbers can match
    std::string message;
    const int bus = busNumber(nothing, text, &message);
    if (bus < 0) {
        // One message, one line, saying why.
        FUZZ_CHECK(message == "Error: I2C bus out of range!\n" ||
                   message == "Error: I2C bus name doesn't match any bus present!\n");
        errno = 0;
        char* end = nullptr;
        const unsigned long value = std::strtoul(text.c_str(), &end, 0);
        const bool numeric = !text.empty() && *end == '\0';
        FUZZ_CHECK(numeric == (message == "Error: I2C bus out of range!\n"));
        FUZZ_CHECK(!numeric || value > kMaxBus);
        return;
    }
    FUZZ_CHECK(bus <= kMaxBus);
    FUZZ_CHECK(message.empty());
    FUZZ_CHECK(nothing.openedPaths().empty());  // a number is used without looking anything up
    for (const char* format : {"%d", "0x%x", "%#o"}) {
        FUZZ_CHECK(busNumber(nothing, formatted(format, bus), &message) == bus);
    }

    // The bus node's name, formatted into buffers of every small size, stays inside them.
    for (size_t size = 0; size <= 20; ++size) {
        std::vector<char> name(size == 0 ? 1 : size, '\x7f');
        fuzz::FuzzedSystem system;
        const std::string node = formatted("/dev/i2c-%d", bus);
        system.addNode(node, fuzz::FuzzedSystem::NodeKind::I2cBus);
        const int fd = i2c::openDevice(system, bus, size == 0 ? nullptr : name.data(), size, 1);
        FUZZ_CHECK(fd >= 0);
        FUZZ_CHECK(system.openedPaths().size() == 1 && system.openedPaths()[0] == node);
        if (size > 0) {
            FUZZ_CHECK(std::memchr(name.data(), '\0', size) != nullptr);
            FUZZ_CHECK(node.compare(0, std::strlen(name.data()), name.data()) == 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string text = input.ConsumeRemainingBytesAsString();
    const std::string cText(text.c_str());  // what a C caller can hand over
    checkChipAddress(cText);
    checkBusNumber(cText);
    return 0;
}
