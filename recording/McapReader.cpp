// The MCAP reader.
#include "recording/McapReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "recording/McapCompression.h"
#include "recording/McapFormat.h"

namespace Quarvel {
namespace mcap {

namespace {
bool readMap(FieldReader& in, StringMap& map) {
    FieldReader entries = in.range(in.u32());
    while (entries.ok() && entries.remaining() > 0) {
        std::string key = entries.string();
        std::string value = entries.string();
        if (entries.ok()) map[key] = value;
    }
    return in.ok() && entries.ok();
}
}  // namespace

Reader::~Reader() {
    if (fd >= 0) ::close(fd);
}

bool Reader::readAt(uint64_t offset, void* to, size_t size) {
    if (offset > fileSize || size > fileSize - offset) return false;
    if (memory) {
        if (size > 0) std::memcpy(to, memory + offset, size);
        return true;
    }
    uint8_t* at = static_cast<uint8_t*>(to);
    while (size > 0) {
        const ssize_t got = ::pread(fd, at, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        offset += static_cast<uint64_t>(got);
        size -= static_cast<size_t>(got);
    }
    return true;
}

int Reader::corrupt(const std::string& why) {
    if (failure.empty()) failure = why;
    ended = true;
    return -1;
}

int Reader::open(const std::string& path) {
    if (fd >= 0) ::close(fd);
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failure = "cannot open " + path + ": " + std::strerror(errno);
        return -1;
    }
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        failure = "cannot read " + path + ": " + std::strerror(errno);
        return -1;
    }
    memory = nullptr;
    // The size as the file system gives it: a recording may outgrow size_t on 32-bit boards.
    fileSize = static_cast<uint64_t>(end);
    return start();
}

int Reader::openMemory(const uint8_t* data, size_t size) {
    if (fd >= 0) ::close(fd);
    fd = -1;
    memory = data;
    fileSize = size;
    return start();
}

int Reader::start() {
    failure.clear();
    uint8_t head[kMagicSize + kRecordPrefix];
    if (!readAt(0, head, sizeof head) || std::memcmp(head, kMagic, kMagicSize) != 0) {
        failure = "not an MCAP file (no MCAP magic at its start)";
        return -1;
    }
    if (head[kMagicSize] != HEADER) {
        failure = "not an MCAP file (no header record after the magic)";
        return -1;
    }
    rewind();
    return 0;
}

void Reader::rewind() {
    position = kMagicSize;
    ended = false;
    cut = false;
    chunkData.clear();
    chunkPosition = 0;
    metadataRecords.clear();
    lost.clear();
}

const Channel* Reader::channelByTopic(const std::string& topic) const {
    for (const auto& entry : channelTable) {
        if (entry.second.topic == topic) return &entry.second;
    }
    return nullptr;
}

uint64_t Reader::lostMessages(uint16_t channelId) const {
    const auto found = lost.find(channelId);
    return found == lost.end() ? 0 : found->second;
}

int Reader::next(Message& message) {
    while (!ended) {
        if (chunkPosition < chunkData.size()) {
            const int result = nextInChunk(message);
            if (result != 0) return result;
            continue;
        }
        uint8_t prefix[kRecordPrefix];
        if (position == fileSize || !readAt(position, prefix, sizeof prefix)) {
            // The data section stopped before its data-end record.
            cut = true;
            ended = true;
            break;
        }
        FieldReader fields(prefix, sizeof prefix);
        const uint8_t opcode = fields.u8();
        const uint64_t length = fields.u64();
        const uint64_t available = fileSize - position - kRecordPrefix;
        if (length > available) {
            if (opcode == CHUNK && available <= recordLimit) {
                record.resize(static_cast<size_t>(available));
                if (readAt(position + kRecordPrefix, record.data(), record.size())) {
                    countCutChunk(record.data(), record.size());
                }
            }
            cut = true;
            ended = true;
            break;
        }
        if (length > recordLimit) {
            return corrupt("record at offset " + std::to_string(position) + " is too large (" +
                           std::to_string(length) + " bytes)");
        }
        const uint64_t at = position;
        position += kRecordPrefix + length;
        if (opcode == DATA_END || opcode == FOOTER) {
            ended = true;
            break;
        }
        if (opcode == MESSAGE_INDEX) continue;  // this reader goes in file order
        record.resize(static_cast<size_t>(length));
        if (!readAt(at + kRecordPrefix, record.data(), record.size())) {
            return corrupt("cannot read the record at offset " + std::to_string(at));
        }
        const int result = handleRecord(opcode, record.data(), record.size(), message);
        if (result < 0) {
            failure += " (record at offset " + std::to_string(at) + ")";
            return result;
        }
        if (result > 0) return result;
    }
    return failure.empty() ? 0 : -1;
}

int Reader::nextInChunk(Message& message) {
    FieldReader fields(chunkData.data() + chunkPosition, chunkData.size() - chunkPosition);
    const uint8_t opcode = fields.u8();
    const uint64_t length = fields.u64();
    if (!fields.ok() || length > fields.remaining()) {
        return corrupt("a record inside a chunk runs past its end");
    }
    const size_t at = chunkPosition + kRecordPrefix;
    chunkPosition = at + static_cast<size_t>(length);
    if (opcode != SCHEMA && opcode != CHANNEL && opcode != MESSAGE) {
        return corrupt("a chunk holds a record of kind " + std::to_string(opcode));
    }
    return handleRecord(opcode, chunkData.data() + at, static_cast<size_t>(length), message);
}

int Reader::handleRecord(uint8_t opcode, const uint8_t* content, size_t size, Message& message) {
    FieldReader in(content, size);
    switch (opcode) {
        case HEADER:
            in.string();
            in.string();
            return in.ok() ? 0 : corrupt("a header record is cut short");
        case SCHEMA: {
            Schema schema;
            schema.id = in.u16();
            schema.name = in.string();
            schema.encoding = in.string();
            schema.data = in.string();
            if (!in.ok() || schema.id == 0) return corrupt("a schema record is malformed");
            schemaTable[schema.id] = schema;
            return 0;
        }
        case CHANNEL: {
            Channel channel;
            channel.id = in.u16();
            channel.schemaId = in.u16();
            channel.topic = in.string();
            channel.messageEncoding = in.string();
            if (!readMap(in, channel.metadata)) return corrupt("a channel record is malformed");
            channelTable[channel.id] = channel;
            return 0;
        }
        case MESSAGE: {
            message.channelId = in.u16();
            message.sequence = in.u32();
            message.logTime = in.u64();
            message.publishTime = in.u64();
            if (!in.ok()) return corrupt("a message record is cut short");
            if (channelTable.find(message.channelId) == channelTable.end()) {
                return corrupt("a message names channel " + std::to_string(message.channelId) +
                               ", which no channel record defines");
            }
            message.data = in.position();
            message.size = in.remaining();
            return 1;
        }
        case CHUNK:
            return loadChunk(content, size);
        case METADATA: {
            MetadataRecord metadata;
            metadata.name = in.string();
            if (!readMap(in, metadata.entries)) return corrupt("a metadata record is malformed");
            metadataRecords.push_back(metadata);
            return 0;
        }
        default:
            return 0;  // attachments and records this reader has no use for
    }
}

int Reader::loadChunk(const uint8_t* content, size_t size) {
    FieldReader in(content, size);
    in.u64();
    in.u64();
    const uint64_t expanded = in.u64();
    const uint32_t crc = in.u32();
    const std::string compression = in.string();
    const uint64_t packedSize = in.u64();
    if (!in.ok() || packedSize != in.remaining()) return corrupt("a chunk header is malformed");
    if (expanded > recordLimit) return corrupt("a chunk states too large a size");
    std::string codecError;
    const size_t got = decompress(compression, in.position(), in.remaining(),
                                  static_cast<size_t>(expanded), chunkData, codecError);
    if (!codecError.empty()) return corrupt("a chunk cannot be expanded: " + codecError);
    if (got != expanded) return corrupt("a chunk expands to fewer bytes than it states");
    if (crc != 0 && crc32(chunkData.data(), chunkData.size()) != crc) {
        return corrupt("a chunk fails its CRC");
    }
    chunkPosition = 0;
    return 0;
}

void Reader::countCutChunk(const uint8_t* content, size_t size) {
    FieldReader in(content, size);
    in.u64();
    in.u64();
    const uint64_t expanded = in.u64();
    in.u32();
    const std::string compression = in.string();
    in.u64();
    if (!in.ok() || expanded > recordLimit) return;
    std::vector<uint8_t> survived;
    std::string codecError;
    decompress(compression, in.position(), in.remaining(), static_cast<size_t>(expanded), survived,
               codecError);
    // Every message whose record began in what survived was lost with the chunk.
    FieldReader records(survived.data(), survived.size());
    while (records.remaining() >= kRecordPrefix + 2) {
        const uint8_t opcode = records.u8();
        const uint64_t length = records.u64();
        if (opcode == MESSAGE) {
            FieldReader head = records;
            const uint16_t channel = head.u16();
            if (head.ok()) ++lost[channel];
        }
        if (!records.skip(length)) break;
    }
}

int Reader::readSummary(Statistics& statistics, uint32_t& chunkIndexCount) {
    constexpr size_t kTail = kRecordPrefix + kFooterContent + kMagicSize;
    uint8_t tail[kTail];
    if (fileSize < kMagicSize + kTail || !readAt(fileSize - kTail, tail, kTail) ||
        std::memcmp(tail + kTail - kMagicSize, kMagic, kMagicSize) != 0 || tail[0] != FOOTER) {
        failure = "the file has no footer (it was not closed)";
        return -1;
    }
    FieldReader footer(tail + 1, kTail - 1 - kMagicSize);
    const uint64_t length = footer.u64();
    const uint64_t summaryStart = footer.u64();
    footer.u64();
    const uint32_t summaryCrc = footer.u32();
    const uint64_t footerAt = fileSize - kTail;
    if (length != kFooterContent || summaryStart == 0 || summaryStart > footerAt ||
        footerAt - summaryStart > recordLimit) {
        failure = "the footer names no usable summary";
        return -1;
    }
    std::vector<uint8_t> summary(static_cast<size_t>(footerAt - summaryStart) + kRecordPrefix + 16);
    if (!readAt(summaryStart, summary.data(), summary.size())) {
        failure = "the summary cannot be read";
        return -1;
    }
    if (summaryCrc != 0 && crc32(summary.data(), summary.size()) != summaryCrc) {
        failure = "the summary fails its CRC";
        return -1;
    }
    chunkIndexCount = 0;
    FieldReader records(summary.data(), static_cast<size_t>(footerAt - summaryStart));
    while (records.ok() && records.remaining() > 0) {
        const uint8_t opcode = records.u8();
        FieldReader in = records.range(records.u64());
        if (!records.ok()) break;
        if (opcode == CHUNK_INDEX) ++chunkIndexCount;
        if (opcode != STATISTICS) continue;
        statistics.messageCount = in.u64();
        statistics.schemaCount = in.u16();
        statistics.channelCount = in.u32();
        statistics.attachmentCount = in.u32();
        statistics.metadataCount = in.u32();
        statistics.chunkCount = in.u32();
        statistics.messageStartTime = in.u64();
        statistics.messageEndTime = in.u64();
        FieldReader counts = in.range(in.u32());
        while (counts.ok() && counts.remaining() > 0) {
            const uint16_t channel = counts.u16();
            const uint64_t count = counts.u64();
            if (counts.ok()) statistics.channelMessageCounts[channel] = count;
        }
    }
    if (!records.ok()) {
        failure = "the summary is malformed";
        return -1;
    }
    return 0;
}

}  // namespace mcap
}  // namespace Quarvel
