// I2C bus lookup by number or adapter name, over /proc/bus/i2c or sysfs; chip addresses.
#include "sensor/I2cBusLookup.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace Quarvel {

namespace {

constexpr size_t kProcLineCapacity = 120;    // lines of /proc/bus/i2c and of name files
constexpr size_t kMountsLineCapacity = 255;  // lines of /proc/mounts
constexpr size_t kPathCapacity = 255;        // sysfs paths we are willing to form
constexpr size_t kManyLines = 1u << 16;
constexpr long kMaxBus = 0xFFFFF;

std::string trimTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

// The bus number in an adapter's "i2c-<n>" (a /proc/bus/i2c line or a sysfs entry name), read
// as "i2c-%d" reads it. A number no bus node can have (negative, above 0xFFFFF, overflowing)
// is no adapter: kept, it would come out of the lookup looking like one of its failures.
bool adapterBusNumber(const char* text, int* bus) {
    if (std::strncmp(text, "i2c-", 4) != 0) return false;
    errno = 0;
    char* end = nullptr;
    const long number = std::strtol(text + 4, &end, 10);
    if (end == text + 4 || errno != 0 || number < 0 || number > kMaxBus) return false;
    *bus = static_cast<int>(number);
    return true;
}

// "i2c-<n>\t<type>\t<name>\t<algorithm>": fields are taken from the right. A line with fewer
// than three tabs has no name to take, so it is skipped, as is one not starting "i2c-<n>".
bool parseProcLine(const std::string& line, I2cAdapterEntry* entry) {
    const size_t algorithmTab = line.rfind('\t');
    if (algorithmTab == std::string::npos || algorithmTab == 0) return false;
    const size_t nameTab = line.rfind('\t', algorithmTab - 1);
    if (nameTab == std::string::npos || nameTab == 0) return false;
    const size_t typeTab = line.rfind('\t', nameTab - 1);
    if (typeTab == std::string::npos) return false;
    int bus = 0;
    if (!adapterBusNumber(line.c_str(), &bus)) return false;
    entry->bus = bus;
    entry->name = trimTrailingBlanks(line.substr(nameTab + 1, algorithmTab - nameTab - 1));
    return true;
}

bool formPath(char (&path)[kPathCapacity], const char* format, const char* a, const char* b,
              const char* c = nullptr) {
    const int length = c ? std::snprintf(path, sizeof path, format, a, b, c)
                         : std::snprintf(path, sizeof path, format, a, b);
    return length >= 0 && static_cast<size_t>(length) < sizeof path;
}

bool canOpen(SystemCalls& system, const char* path, std::vector<std::string>* lines) {
    return system.readLines(path, kProcLineCapacity, 1, lines) == 0;
}

std::string sysfsMountPoint(SystemCalls& system) {
    std::vector<std::string> lines;
    if (system.readLines("/proc/mounts", kMountsLineCapacity, kManyLines, &lines) != 0) return {};
    for (const std::string& line : lines) {
        char mountPoint[kMountsLineCapacity] = {};
        char type[kMountsLineCapacity] = {};
        if (std::sscanf(line.c_str(), "%*[^ ] %254[^ ] %254[^ ] %*s\n", mountPoint, type) != 2) {
            continue;
        }
        if (strcasecmp(type, "sysfs") == 0) return mountPoint;
    }
    return {};
}

// One adapter of the sysfs class directory, or false when the entry is to be skipped.
bool readSysfsAdapter(SystemCalls& system, const std::string& directory, const std::string& entry,
                      I2cAdapterEntry* adapter) {
    char namePath[kPathCapacity];
    std::vector<std::string> lines;
    bool found = formPath(namePath, "%s/%s/name", directory.c_str(), entry.c_str()) &&
                 canOpen(system, namePath, &lines);
    if (!found) {
        found = formPath(namePath, "%s/%s/device/name", directory.c_str(), entry.c_str()) &&
                canOpen(system, namePath, &lines);
    }
    if (!found) {
        char devicePath[kPathCapacity];
        std::vector<std::string> subEntries;
        if (!formPath(devicePath, "%s/%s/device", directory.c_str(), entry.c_str()) ||
            system.listDirectory(devicePath, &subEntries) != 0) {
            return false;
        }
        for (const std::string& sub : subEntries) {
            if (sub.compare(0, 4, "i2c-") != 0) continue;
            if (formPath(namePath, "%s/%s/device/%s/name", directory.c_str(), entry.c_str(),
                         sub.c_str()) &&
                canOpen(system, namePath, &lines)) {
                found = true;
                break;
            }
        }
    }
    if (!found) return false;
    if (lines.empty()) {
        std::fprintf(stderr, "%s: read error\n", namePath);
        return false;
    }
    std::string name = lines.front();
    const size_t newline = name.find('\n');
    if (newline != std::string::npos) name.resize(newline);
    int bus = 0;
    if (!adapterBusNumber(entry.c_str(), &bus)) return false;
    adapter->bus = bus;
    adapter->name = name;
    return true;
}

}  // namespace

std::vector<I2cAdapterEntry> listI2cAdapters(SystemCalls& system) {
    std::vector<I2cAdapterEntry> adapters;
    std::vector<std::string> lines;
    if (system.readLines("/proc/bus/i2c", kProcLineCapacity, kManyLines, &lines) == 0) {
        for (const std::string& line : lines) {
            I2cAdapterEntry entry;
            if (parseProcLine(line, &entry)) adapters.push_back(entry);
        }
        return adapters;
    }
    const std::string mountPoint = sysfsMountPoint(system);
    if (mountPoint.empty()) return adapters;
    const std::string directory = mountPoint + "/class/i2c-dev";
    std::vector<std::string> entries;
    if (system.listDirectory(directory.c_str(), &entries) != 0) return adapters;
    for (const std::string& entry : entries) {
        if (entry == "." || entry == "..") continue;
        I2cAdapterEntry adapter;
        if (readSysfsAdapter(system, directory, entry, &adapter)) adapters.push_back(adapter);
    }
    return adapters;
}

int lookupI2cBus(SystemCalls& system, const char* text) {
    if (text == nullptr) text = "";
    char* end = nullptr;
    const unsigned long number = std::strtoul(text, &end, 0);
    if (*text != '\0' && *end == '\0') {
        if (number > static_cast<unsigned long>(kMaxBus)) {
            std::fprintf(stderr, "Error: I2C bus out of range!\n");
            return -2;
        }
        return static_cast<int>(number);
    }

    // No text names no adapter: discovery that found no sensor leaves the name empty, and
    // an adapter listed with an empty name must not stand in for the sensor's bus.
    if (*text == '\0') {
        std::fprintf(stderr, "Error: I2C bus name doesn't match any bus present!\n");
        return -1;
    }
    std::vector<I2cAdapterEntry> adapters;
    try {
        adapters = listI2cAdapters(system);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "Error: Out of memory!\n");
        return -3;
    }
    int bus = -1;
    bool matched = false;
    for (const I2cAdapterEntry& adapter : adapters) {
        if (adapter.name != text) continue;
        if (matched) {
            std::fprintf(stderr, "Error: I2C bus name is not unique!\n");
            return -4;
        }
        matched = true;
        bus = adapter.bus;
    }
    if (!matched) {
        std::fprintf(stderr, "Error: I2C bus name doesn't match any bus present!\n");
        return -1;
    }
    return bus;
}

int parseChipAddress(const char* text) {
    if (text == nullptr) text = "";
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (*end != '\0') {
        std::fprintf(stderr, "Error: Chip address is not a number!\n");
        return -1;
    }
    if (value < 0x03 || value > 0x77) {
        std::fprintf(stderr, "Error: Chip address out of range (0x03-0x77)!\n");
        return -2;
    }
    return static_cast<int>(value);
}

}  // namespace Quarvel
