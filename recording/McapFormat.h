// The MCAP container's fixed vocabulary: magic, record opcodes, little-endian field coding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Quarvel {
namespace mcap {

// Both ends of a file carry these 8 bytes.
constexpr uint8_t kMagic[8] = {0x89, 'M', 'C', 'A', 'P', '0', '\r', '\n'};
constexpr size_t kMagicSize = sizeof kMagic;
// Opcode byte plus the 64-bit content length in front of every record.
constexpr size_t kRecordPrefix = 9;

enum Opcode : uint8_t {
    HEADER = 0x01,
    FOOTER = 0x02,
    SCHEMA = 0x03,
    CHANNEL = 0x04,
    MESSAGE = 0x05,
    CHUNK = 0x06,
    MESSAGE_INDEX = 0x07,
    CHUNK_INDEX = 0x08,
    ATTACHMENT = 0x09,
    ATTACHMENT_INDEX = 0x0A,
    STATISTICS = 0x0B,
    METADATA = 0x0C,
    METADATA_INDEX = 0x0D,
    SUMMARY_OFFSET = 0x0E,
    DATA_END = 0x0F,
};

// Content of a footer record: two offsets and a CRC.
constexpr size_t kFooterContent = 8 + 8 + 4;

// CRC-32 (the zlib polynomial, reflected), continued from `crc` (0 to begin).
uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// Appends little-endian fields to a byte vector.
class FieldWriter {
public:
    explicit FieldWriter(std::vector<uint8_t>& out) : bytes(out) {}
    void u8(uint8_t value) { bytes.push_back(value); }
    void u16(uint16_t value) { little(value, 2); }
    void u32(uint32_t value) { little(value, 4); }
    void u64(uint64_t value) { little(value, 8); }
    void raw(const void* data, size_t size) {
        const uint8_t* from = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), from, from + size);
    }
    // A string or a byte array with its 32-bit length.
    void string(const std::string& text) {
        u32(static_cast<uint32_t>(text.size()));
        raw(text.data(), text.size());
    }
    // A map with its 32-bit byte length, entries in the map's order: string to string
    // (channel and metadata records) or channel id to count or offset (statistics, chunk
    // indexes).
    template <typename Map>
    void map(const Map& entries) {
        const size_t at = beginLength32();
        for (const auto& entry : entries) {
            field(entry.first);
            field(entry.second);
        }
        endLength32(at);
    }
    // Reserves a 32-bit (or 64-bit) length and fills it in when the content is complete.
    size_t beginLength32() {
        const size_t at = bytes.size();
        u32(0);
        return at;
    }
    void endLength32(size_t at) { patch(at, bytes.size() - at - 4, 4); }
    size_t beginRecord(uint8_t opcode) {
        u8(opcode);
        const size_t at = bytes.size();
        u64(0);
        return at;
    }
    void endRecord(size_t at) { patch(at, bytes.size() - at - 8, 8); }

private:
    void field(const std::string& text) { string(text); }
    void field(uint16_t value) { u16(value); }
    void field(uint64_t value) { u64(value); }
    void little(uint64_t value, int size) {
        for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    void patch(size_t at, uint64_t value, int size) {
        for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    std::vector<uint8_t>& bytes;
};

// Reads little-endian fields from a bounded byte range; every read past the end fails once
// and leaves the reader failed, so a record is checked with one test at its end.
class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t size) : at(data), left(size) {}
    bool ok() const { return good; }
    size_t remaining() const { return left; }
    const uint8_t* position() const { return at; }
    uint8_t u8() { return static_cast<uint8_t>(little(1)); }
    uint16_t u16() { return static_cast<uint16_t>(little(2)); }
    uint32_t u32() { return static_cast<uint32_t>(little(4)); }
    uint64_t u64() { return little(8); }
    std::string string() {
        const uint32_t size = u32();
        if (!take(size)) return std::string();
        return std::string(reinterpret_cast<const char*>(at - size), size);
    }
    // A sub-range of `size` bytes, or an empty failed reader.
    FieldReader range(uint64_t size) {
        if (!take(size)) return FieldReader(nullptr, 0, false);
        return FieldReader(at - size, static_cast<size_t>(size));
    }
    bool skip(uint64_t size) { return take(size); }

private:
    FieldReader(const uint8_t* data, size_t size, bool state) : at(data), left(size), good(state) {}
    bool take(uint64_t size) {
        if (!good || size > left) {
            good = false;
            left = 0;
            return false;
        }
        at += size;
        left -= static_cast<size_t>(size);
        return true;
    }
    uint64_t little(int size) {
        if (!take(static_cast<uint64_t>(size))) return 0;
        uint64_t value = 0;
        for (int i = 0; i < size; ++i) value |= static_cast<uint64_t>(at[i - size]) << (8 * i);
        return value;
    }
    const uint8_t* at;
    size_t left;
    bool good = true;
};

}  // namespace mcap
}  // namespace Quarvel
