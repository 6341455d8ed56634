// Private copies of the calibration file, kept until the instance that got them is gone.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace Quarvel {

// Owns every copy of "cali.bin" handed to one phase-library instance. The file is read
// into memory of our own rather than mapped: a user who truncates or replaces the file
// while a stream runs would otherwise turn the library's next read of a mapping into a
// SIGBUS. The library may keep pointing into a copy, so nothing is released before the
// device has destroyed the instance. Caller's thread only.
class CalibrationCopies {
public:
    // Bytes handed to the library; data is null when there is nothing to hand over.
    struct View {
        const void* data = nullptr;
        size_t size = 0;
    };

    // Larger files are refused (a 640x480 calibration takes a few megabytes).
    static constexpr size_t kMaxBytes = 64u << 20;

    CalibrationCopies() = default;
    CalibrationCopies(const CalibrationCopies&) = delete;
    CalibrationCopies& operator=(const CalibrationCopies&) = delete;

    // Reads the whole regular file at `path`. A file that is missing, empty, not a regular
    // file (a FIFO or a device is refused without waiting), larger than kMaxBytes or
    // unreadable gives an empty view. When its bytes equal the newest copy, that copy is
    // handed out again: repeated starts with the same file do not use up memory.
    View load(const char* path);

    // Frees every copy. Only after the library instance that received them was destroyed.
    void releaseAll() { copies.clear(); }

    size_t count() const { return copies.size(); }

private:
    // Each copy on its own heap block, so a new one never moves an older one.
    std::vector<std::unique_ptr<const std::string>> copies;
};

}  // namespace Quarvel
