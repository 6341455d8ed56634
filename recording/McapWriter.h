// Writes MCAP files: chunked messages, each chunk followed by its message indexes, and a
// summary (schemas, channels, statistics, chunk and metadata indexes, summary offsets) that
// lets a reader seek without scanning.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "recording/McapCompression.h"

namespace Quarvel {
namespace mcap {

using StringMap = std::map<std::string, std::string>;

struct WriterOptions {
    Compression compression = defaultCompression();
    // A chunk is closed once its records reach this size.
    size_t chunkBytes = 4u << 20;
    std::string profile = "ros2";
    std::string library = "quarvel-mcap";
};

// Not thread-safe: one thread writes. Every operation returns 0, or -1 once writing failed
// (the file is then left as a reader finds a truncated one); error() says why.
class Writer {
public:
    Writer() = default;
    ~Writer();  // closes the file, writing its summary
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    int open(const std::string& path, const WriterOptions& options);
    // Ids start at 1 (0 means no schema). Schema and channel records go into the data
    // section at once, ahead of any message that uses them, and into the summary.
    uint16_t addSchema(const std::string& name, const std::string& encoding,
                       const std::string& data);
    uint16_t addChannel(uint16_t schemaId, const std::string& topic,
                        const std::string& messageEncoding, const StringMap& metadata);
    int write(uint16_t channelId, uint32_t sequence, uint64_t logTime, uint64_t publishTime,
              const uint8_t* data, size_t size);
    int addMetadata(const std::string& name, const StringMap& metadata);
    // Writes the last chunk, the data end, the summary and the footer. Harmless twice.
    int close();

    bool isOpen() const { return file != nullptr; }
    // Bytes in the file so far, and the messages written.
    uint64_t bytesWritten() const { return offset; }
    uint64_t messageCount() const { return messages; }
    const std::string& error() const { return failure; }

private:
    struct ChunkIndex {
        uint64_t start, end, offset, length, indexLength, compressedSize, uncompressedSize;
        std::map<uint16_t, uint64_t> indexOffsets;
    };
    struct MetadataIndex {
        uint64_t offset, length;
        std::string name;
    };
    int emit(const std::vector<uint8_t>& bytes);
    int flushChunk();
    int fail(const std::string& why);

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> file;
    WriterOptions options;
    uint64_t offset = 0;
    uint32_t dataCrc = 0;
    std::string failure;

    std::vector<std::vector<uint8_t>> schemaRecords, channelRecords;
    std::vector<uint8_t> chunk;  // records of the open chunk, uncompressed
    uint64_t chunkStart = 0, chunkEnd = 0;
    std::map<uint16_t, std::vector<std::pair<uint64_t, uint64_t>>> chunkMessages;
    std::vector<ChunkIndex> chunkIndexes;
    std::vector<MetadataIndex> metadataIndexes;
    std::map<uint16_t, uint64_t> channelCounts;
    uint64_t messages = 0, firstTime = 0, lastTime = 0;
    uint16_t nextSchema = 1, nextChannel = 1;
};

}  // namespace mcap
}  // namespace Quarvel
