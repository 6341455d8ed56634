// Reads MCAP files in file order: schemas, channels, metadata and messages, chunk by chunk.
// A file cut short (recording killed, power lost) yields every complete chunk and counts
// the messages of the chunk it was cut in; a file that is corrupt or no MCAP at all yields
// an error text, never a crash.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "recording/McapWriter.h"

namespace Quarvel {
namespace mcap {

struct Schema {
    uint16_t id = 0;
    std::string name, encoding, data;
};

struct Channel {
    uint16_t id = 0, schemaId = 0;
    std::string topic, messageEncoding;
    StringMap metadata;
};

// Valid until the next call of the reader.
struct Message {
    uint16_t channelId = 0;
    uint32_t sequence = 0;
    uint64_t logTime = 0, publishTime = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

struct Statistics {
    uint64_t messageCount = 0;
    uint16_t schemaCount = 0;
    uint32_t channelCount = 0, attachmentCount = 0, metadataCount = 0, chunkCount = 0;
    uint64_t messageStartTime = 0, messageEndTime = 0;
    std::map<uint16_t, uint64_t> channelMessageCounts;
};

struct MetadataRecord {
    std::string name;
    StringMap entries;
};

class Reader {
public:
    // Records (and expanded chunks) larger than this are refused as corrupt.
    explicit Reader(uint64_t maxRecordBytes = 1ull << 30) : recordLimit(maxRecordBytes) {}
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // 0, or -1 with error() saying why (missing file, no MCAP magic, no header record).
    int open(const std::string& path);
    // Reads from memory that must outlive the reader.
    int openMemory(const uint8_t* data, size_t size);

    // The next message in file order: 1 a message, 0 the end of the data (or of what survived
    // of it), -1 a corrupt file (error() says where and what).
    int next(Message& message);
    // Back to the first record, keeping the schemas and channels already seen.
    void rewind();

    const std::map<uint16_t, Schema>& schemas() const { return schemaTable; }
    const std::map<uint16_t, Channel>& channels() const { return channelTable; }
    const std::vector<MetadataRecord>& metadata() const { return metadataRecords; }
    const Channel* channelByTopic(const std::string& topic) const;

    // Whether the data ended without its data-end record, and how many messages of each
    // channel the chunk cut off at the end had begun (known once next() returned 0).
    bool truncated() const { return cut; }
    uint64_t lostMessages(uint16_t channelId) const;
    const std::string& error() const { return failure; }

    // Reads the summary through the footer. 0, or -1 when the file has none or it is corrupt.
    int readSummary(Statistics& statistics, uint32_t& chunkIndexCount);

private:
    int start();  // checks the magic and the header, then rewinds
    bool readAt(uint64_t offset, void* to, size_t size);
    int corrupt(const std::string& why);
    int handleRecord(uint8_t opcode, const uint8_t* content, size_t size, Message& message);
    int loadChunk(const uint8_t* content, size_t size);
    void countCutChunk(const uint8_t* content, size_t size);
    int nextInChunk(Message& message);

    int fd = -1;
    const uint8_t* memory = nullptr;
    uint64_t fileSize = 0;
    uint64_t recordLimit;
    uint64_t position = 0;  // next record of the data section
    bool ended = false, cut = false;
    std::string failure;
    std::vector<uint8_t> record;     // content of the last top-level record
    std::vector<uint8_t> chunkData;  // records of the current chunk, expanded
    size_t chunkPosition = 0;
    std::map<uint16_t, Schema> schemaTable;
    std::map<uint16_t, Channel> channelTable;
    std::vector<MetadataRecord> metadataRecords;
    std::map<uint16_t, uint64_t> lost;
};

}  // namespace mcap
}  // namespace Quarvel
