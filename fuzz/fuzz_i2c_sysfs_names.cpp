// The adapter list from sysfs: /proc/mounts lines, i2c-dev class entries and their name files.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "fuzz/support/BusLookupChecks.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/FuzzedSystem.h"
#include "sensor/I2cBusLookup.h"

using namespace Quarvel;

namespace {

constexpr size_t kNameLimit = 119;  // characters read from a name file

// The name an adapter gets from a name file's text: its first line as the lookup reads it.
std::string firstLine(const std::string& content) {
    std::string line = content.substr(0, kNameLimit);
    line.resize(std::char_traits<char>::length(line.c_str()));
    const size_t newline = line.find('\n');
    if (newline != std::string::npos) line.resize(newline);
    return line;
}

// A directory entry name without line breaks. The kernel names these entries itself and never
// uses one; with one, a path in a "read error" report could fake a line of its own on stderr.
std::string entryName(std::string name) {
    for (char& c : name) {
        if (c == '\n') c = '_';
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::string lookupText = input.ConsumeRandomLengthString(48);
    lookupText.resize(std::char_traits<char>::length(lookupText.c_str()));

    // Where sysfs is mounted: a usual mounts file, or any text at all.
    std::string mountPoint = "/sys";
    std::string mounts;
    switch (input.ConsumeIntegralInRange(0, 2)) {
        case 0:
            mounts = "proc /proc proc rw 0 0\nsysfs /sys sysfs rw,nosuid 0 0\n";
            break;
        case 1:
            mountPoint = input.ConsumeRandomLengthString(200);
            for (char& c : mountPoint) {
                if (c == ' ' || c == '\n' || c == '\0') c = '_';
            }
            mounts = "none " + mountPoint + " SySfS rw 0 0\n";
            break;
        default:
            mounts = input.ConsumeRandomLengthString(600);
            break;
    }

    fuzz::FuzzedSystem system;
    system.addFile("/proc/mounts", mounts);
    const std::string directory = mountPoint + "/class/i2c-dev";
    std::vector<std::string> entries = {".", ".."};
    std::vector<std::string> nameTexts;  // every name file's first line
    const int count = input.ConsumeIntegralInRange(0, 10);
    for (int i = 0; i < count; ++i) {
        const std::string entry =
            input.ConsumeBool() ? "i2c-" + std::to_string(input.ConsumeIntegral<int>())
                                : entryName(input.ConsumeRandomLengthString(24));
        entries.push_back(entry);
        const std::string content = input.ConsumeRandomLengthString(160);
        const std::string base = directory + "/" + entry;
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
                system.addFile(base + "/name", content);
                break;
            case 1:
                system.addFile(base + "/device/name", content);
                break;
            case 2: {
                const std::string sub =
                    entryName(input.ConsumeBool() ? "i2c-" + input.ConsumeRandomLengthString(8)
                                                  : input.ConsumeRandomLengthString(8));
                system.addDirectory(base + "/device", {".", "..", "power", sub});
                system.addFile(base + "/device/" + sub + "/name", content);
                break;
            }
            default:
                break;  // no name file at all
        }
        nameTexts.push_back(firstLine(content));
    }
    system.addDirectory(directory, entries);

    const std::vector<I2cAdapterEntry> adapters = listI2cAdapters(system);
    fuzz::checkAdapterList(adapters);
    FUZZ_CHECK(adapters.size() <= static_cast<size_t>(count));
    for (const I2cAdapterEntry& adapter : adapters) {
        bool fromANameFile = false;
        for (const std::string& text : nameTexts) fromANameFile |= adapter.name == text;
        FUZZ_CHECK(fromANameFile);
    }
    fuzz::checkLookupAgainstList(system, lookupText, adapters);
    return 0;
}
