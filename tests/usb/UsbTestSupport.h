// Helpers of the USB tests: scratch files for camera descriptions, byte views.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

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

}  // namespace usbtest
