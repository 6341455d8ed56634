// Helpers of the recording tests: a file's bytes and where its chunks lie.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "recording/McapFormat.h"

namespace mcaptest {

inline std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// [start, end) of every chunk record of the data section, in file order.
inline std::vector<std::pair<uint64_t, uint64_t>> chunkSpans(const std::vector<uint8_t>& bytes) {
    using namespace Quarvel::mcap;
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    uint64_t at = kMagicSize;
    while (at + kRecordPrefix <= bytes.size()) {
        FieldReader prefix(bytes.data() + at + 1, 8);
        const uint64_t length = prefix.u64();
        if (bytes[at] == CHUNK) spans.emplace_back(at, at + kRecordPrefix + length);
        if (bytes[at] == DATA_END) break;
        at += kRecordPrefix + length;
    }
    return spans;
}

}  // namespace mcaptest
