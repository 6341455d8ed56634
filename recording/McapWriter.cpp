// The MCAP writer.
#include "recording/McapWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "recording/McapFormat.h"

namespace Quarvel {
namespace mcap {

Writer::~Writer() { close(); }

int Writer::fail(const std::string& why) {
    if (failure.empty()) failure = why;
    file.reset();
    return -1;
}

int Writer::emit(const std::vector<uint8_t>& bytes) {
    if (!file) return -1;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return fail(std::string("write failed: ") + std::strerror(errno));
    }
    offset += bytes.size();
    return 0;
}

int Writer::open(const std::string& path, const WriterOptions& chosen) {
    if (file || offset != 0) {
        failure = "a writer writes one file";
        return -1;
    }
    options = chosen;
    if (!compressionAvailable(options.compression)) {
        failure =
            std::string("this build cannot compress with ") + compressionName(options.compression);
        return -1;
    }
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) {
        failure = "cannot create " + path + ": " + std::strerror(errno);
        return -1;
    }
    std::vector<uint8_t> bytes(kMagic, kMagic + kMagicSize);
    FieldWriter out(bytes);
    const size_t at = out.beginRecord(HEADER);
    out.string(options.profile);
    out.string(options.library);
    out.endRecord(at);
    dataCrc = crc32(bytes.data(), bytes.size());
    return emit(bytes);
}

uint16_t Writer::addSchema(const std::string& name, const std::string& encoding,
                           const std::string& data) {
    if (!file) return 0;
    const uint16_t id = nextSchema++;
    std::vector<uint8_t> record;
    FieldWriter out(record);
    const size_t at = out.beginRecord(SCHEMA);
    out.u16(id);
    out.string(name);
    out.string(encoding);
    out.string(data);
    out.endRecord(at);
    schemaRecords.push_back(record);
    dataCrc = crc32(record.data(), record.size(), dataCrc);
    return emit(record) == 0 ? id : 0;
}

uint16_t Writer::addChannel(uint16_t schemaId, const std::string& topic,
                            const std::string& messageEncoding, const StringMap& metadata) {
    if (!file) return 0;
    const uint16_t id = nextChannel++;
    std::vector<uint8_t> record;
    FieldWriter out(record);
    const size_t at = out.beginRecord(CHANNEL);
    out.u16(id);
    out.u16(schemaId);
    out.string(topic);
    out.string(messageEncoding);
    out.map(metadata);
    out.endRecord(at);
    channelRecords.push_back(record);
    channelCounts[id] = 0;
    dataCrc = crc32(record.data(), record.size(), dataCrc);
    return emit(record) == 0 ? id : 0;
}

int Writer::write(uint16_t channelId, uint32_t sequence, uint64_t logTime, uint64_t publishTime,
                  const uint8_t* data, size_t size) {
    if (!file) return -1;
    if (channelCounts.find(channelId) == channelCounts.end()) return fail("unknown channel");
    if (chunk.empty()) {
        chunkStart = logTime;
        chunkEnd = logTime;
    }
    chunkStart = std::min(chunkStart, logTime);
    chunkEnd = std::max(chunkEnd, logTime);
    chunkMessages[channelId].emplace_back(logTime, chunk.size());
    FieldWriter out(chunk);
    const size_t at = out.beginRecord(MESSAGE);
    out.u16(channelId);
    out.u32(sequence);
    out.u64(logTime);
    out.u64(publishTime);
    out.raw(data, size);
    out.endRecord(at);
    if (messages == 0 || logTime < firstTime) firstTime = logTime;
    if (messages == 0 || logTime > lastTime) lastTime = logTime;
    ++messages;
    ++channelCounts[channelId];
    return chunk.size() >= options.chunkBytes ? flushChunk() : 0;
}

int Writer::flushChunk() {
    if (!file) return -1;
    if (chunk.empty()) return 0;
    std::vector<uint8_t> packed;
    if (!compress(options.compression, chunk.data(), chunk.size(), packed)) {
        return fail("compressing a chunk failed");
    }
    ChunkIndex index{};
    index.start = chunkStart;
    index.end = chunkEnd;
    index.offset = offset;
    index.compressedSize = packed.size();
    index.uncompressedSize = chunk.size();

    std::vector<uint8_t> record;
    FieldWriter out(record);
    const size_t at = out.beginRecord(CHUNK);
    out.u64(chunkStart);
    out.u64(chunkEnd);
    out.u64(chunk.size());
    out.u32(crc32(chunk.data(), chunk.size()));
    out.string(compressionName(options.compression));
    out.u64(packed.size());
    out.raw(packed.data(), packed.size());
    out.endRecord(at);
    index.length = record.size();

    // The message indexes follow their chunk, one per channel, in channel order.
    const size_t indexesStart = record.size();
    for (const auto& channel : chunkMessages) {
        index.indexOffsets[channel.first] = offset + record.size();
        const size_t m = out.beginRecord(MESSAGE_INDEX);
        out.u16(channel.first);
        const size_t list = out.beginLength32();
        for (const auto& entry : channel.second) {
            out.u64(entry.first);
            out.u64(entry.second);
        }
        out.endLength32(list);
        out.endRecord(m);
    }
    index.indexLength = record.size() - indexesStart;
    dataCrc = crc32(record.data(), record.size(), dataCrc);
    chunk.clear();
    chunkMessages.clear();
    chunkIndexes.push_back(index);
    return emit(record);
}

int Writer::addMetadata(const std::string& name, const StringMap& metadata) {
    if (!file) return -1;
    // Between chunks, so the open chunk is written first.
    if (flushChunk() != 0) return -1;
    std::vector<uint8_t> record;
    FieldWriter out(record);
    const size_t at = out.beginRecord(METADATA);
    out.string(name);
    out.map(metadata);
    out.endRecord(at);
    metadataIndexes.push_back({offset, record.size(), name});
    dataCrc = crc32(record.data(), record.size(), dataCrc);
    return emit(record);
}

int Writer::close() {
    if (!file) return failure.empty() ? 0 : -1;
    if (flushChunk() != 0) return -1;
    std::vector<uint8_t> bytes;
    FieldWriter out(bytes);
    size_t at = out.beginRecord(DATA_END);
    out.u32(dataCrc);
    out.endRecord(at);

    // Summary: one group per record kind, each listed in the summary offsets.
    const uint64_t summaryStart = offset + bytes.size();
    struct Group {
        uint8_t opcode;
        uint64_t start, length;
    };
    std::vector<Group> groups;
    auto group = [&](uint8_t opcode, size_t from) {
        if (bytes.size() > from) {
            groups.push_back({opcode, offset + from, static_cast<uint64_t>(bytes.size() - from)});
        }
    };
    size_t from = bytes.size();
    for (const auto& record : schemaRecords) out.raw(record.data(), record.size());
    group(SCHEMA, from);
    from = bytes.size();
    for (const auto& record : channelRecords) out.raw(record.data(), record.size());
    group(CHANNEL, from);

    from = bytes.size();
    at = out.beginRecord(STATISTICS);
    out.u64(messages);
    out.u16(static_cast<uint16_t>(schemaRecords.size()));
    out.u32(static_cast<uint32_t>(channelRecords.size()));
    out.u32(0);  // attachments
    out.u32(static_cast<uint32_t>(metadataIndexes.size()));
    out.u32(static_cast<uint32_t>(chunkIndexes.size()));
    out.u64(firstTime);
    out.u64(lastTime);
    out.map(channelCounts);
    out.endRecord(at);
    group(STATISTICS, from);

    from = bytes.size();
    for (const ChunkIndex& index : chunkIndexes) {
        at = out.beginRecord(CHUNK_INDEX);
        out.u64(index.start);
        out.u64(index.end);
        out.u64(index.offset);
        out.u64(index.length);
        out.map(index.indexOffsets);
        out.u64(index.indexLength);
        out.string(compressionName(options.compression));
        out.u64(index.compressedSize);
        out.u64(index.uncompressedSize);
        out.endRecord(at);
    }
    group(CHUNK_INDEX, from);

    from = bytes.size();
    for (const MetadataIndex& index : metadataIndexes) {
        at = out.beginRecord(METADATA_INDEX);
        out.u64(index.offset);
        out.u64(index.length);
        out.string(index.name);
        out.endRecord(at);
    }
    group(METADATA_INDEX, from);

    const uint64_t summaryOffsetStart = offset + bytes.size();
    for (const Group& g : groups) {
        at = out.beginRecord(SUMMARY_OFFSET);
        out.u8(g.opcode);
        out.u64(g.start);
        out.u64(g.length);
        out.endRecord(at);
    }
    const size_t summaryFrom = static_cast<size_t>(summaryStart - offset);
    // The summary CRC covers the footer's own opcode, length and offsets too.
    out.u8(FOOTER);
    out.u64(kFooterContent);
    out.u64(summaryStart);
    out.u64(summaryOffsetStart);
    out.u32(crc32(bytes.data() + summaryFrom, bytes.size() - summaryFrom));
    out.raw(kMagic, kMagicSize);
    if (emit(bytes) != 0) return -1;
    if (std::fflush(file.get()) != 0)
        return fail(std::string("flush failed: ") + std::strerror(errno));
    file.reset();
    return 0;
}

}  // namespace mcap
}  // namespace Quarvel
