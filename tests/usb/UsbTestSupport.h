// Helpers of the USB tests: scratch files for camera descriptions, byte views, range tables.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "sdk/usb/quarvel_evk_sim.h"

namespace usbtest {

// A private directory under /tmp, removed with its files at the end of the test.
class ScratchDirectory {
public:
    ScratchDirectory() {
        char pattern[] = "/tmp/quarvel-usb-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "";
    }
    ~ScratchDirectory() {
        for (const std::string& file : files) ::unlink(file.c_str());
        if (!path.empty()) ::rmdir(path.c_str());
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    // Writes `text` to `name` in the directory and returns its full path.
    std::string write(const std::string& name, const std::string& text) {
        const std::string full = path + "/" + name;
        std::ofstream(full) << text;
        files.push_back(full);
        return full;
    }
    const std::string& directory() const { return path; }

private:
    std::string path;
    std::vector<std::string> files;
};

inline uint16_t wordAt(const std::vector<uint8_t>& bytes, size_t index) {
    return static_cast<uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

inline void putWord(std::vector<uint8_t>& bytes, size_t index, uint16_t word) {
    bytes[2 * index] = static_cast<uint8_t>(word & 0xFF);
    bytes[2 * index + 1] = static_cast<uint8_t>(word >> 8);
}

// The simulated camera's register writes since its last open.
inline std::vector<uint8_t> registerLog() {
    std::vector<uint8_t> log(QuarvelSimRegisterLog(nullptr, 0));
    QuarvelSimRegisterLog(log.data(), log.size());
    return log;
}

// The bytes (address high, address low, value) that setting each range in turn writes:
// 2000 the 75 MHz table, anything else the 37.5 MHz one.
inline std::vector<uint8_t> rangeTables(std::initializer_list<int> ranges) {
    static const uint8_t kShort[] = {0x21, 0x6C, 0x08, 0x21, 0x79, 0x0A,
                                     0x21, 0x7A, 0x0E, 0x21, 0x7B, 0x12};
    static const uint8_t kLong[] = {0x21, 0x6C, 0x10, 0x21, 0x79, 0x0E,
                                    0x21, 0x7A, 0x16, 0x21, 0x7B, 0x1E};
    std::vector<uint8_t> bytes;
    for (int range : ranges) {
        const uint8_t* table = range == 2000 ? kShort : kLong;
        bytes.insert(bytes.end(), table, table + sizeof kShort);
    }
    return bytes;
}

}  // namespace usbtest
