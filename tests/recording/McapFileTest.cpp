// The MCAP writer and reader together: what is written is read back record for record in
// every compression, the summary tells the truth, a file cut anywhere gives up exactly the
// chunk it was cut in, and damaged or foreign bytes give an error instead of a crash.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recording/McapFormat.h"
#include "recording/McapReader.h"
#include "recording/McapWriter.h"
#include "tests/recording/McapTestFiles.h"

using namespace Quarvel;
using namespace Quarvel::mcap;
using mcaptest::chunkSpans;
using mcaptest::fileBytes;

namespace {

std::string scratchPath(const std::string& name) {
    return "/tmp/quarvel-mcap-" + std::to_string(::getpid()) + "-" + name;
}

// Message n of channel c: a length and content that depend on both.
std::vector<uint8_t> payload(int channel, int n) {
    std::vector<uint8_t> bytes(static_cast<size_t>(100 + 37 * n + channel));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + n + channel);
    return bytes;
}

constexpr int kMessages = 60;

// Writes two channels of kMessages messages each, interleaved, in chunks of about 2 KiB.
struct WrittenFile {
    explicit WrittenFile(Compression compression, const std::string& name)
        : path(scratchPath(name)) {
        Writer writer;
        WriterOptions options;
        options.compression = compression;
        options.chunkBytes = 2048;
        EXPECT_EQ(writer.open(path, options), 0) << writer.error();
        schema = writer.addSchema("test/msg/Blob", "ros2msg", "uint8[] data\n");
        channels[0] = writer.addChannel(schema, "/a", "cdr", {{"k", "v"}});
        channels[1] = writer.addChannel(0, "/b", "quarvel.raw16", {});
        EXPECT_EQ(writer.addMetadata("camera", {{"width", "240"}}), 0);
        for (int n = 0; n < kMessages; ++n) {
            for (int c = 0; c < 2; ++c) {
                const std::vector<uint8_t> data = payload(c, n);
                EXPECT_EQ(writer.write(channels[c], static_cast<uint32_t>(n), 1000u + 10u * n,
                                       5000u + n, data.data(), data.size()),
                          0);
            }
        }
        EXPECT_EQ(writer.close(), 0) << writer.error();
    }
    ~WrittenFile() { std::remove(path.c_str()); }
    std::string path;
    uint16_t schema = 0;
    uint16_t channels[2] = {};
};

class McapCompressions : public ::testing::TestWithParam<Compression> {};

TEST_P(McapCompressions, EveryRecordReadsBackAndTheSummaryCountsThem) {
    if (!compressionAvailable(GetParam())) GTEST_SKIP() << "codec not in this build";
    const WrittenFile file(GetParam(), std::string("roundtrip-") + compressionName(GetParam()));
    Reader reader;
    ASSERT_EQ(reader.open(file.path), 0) << reader.error();
    Message message;
    int seen[2] = {0, 0};
    while (reader.next(message) == 1) {
        const int c = message.channelId == file.channels[0] ? 0 : 1;
        ASSERT_EQ(message.channelId, file.channels[c]);
        const int n = seen[c]++;
        EXPECT_EQ(message.sequence, static_cast<uint32_t>(n));
        EXPECT_EQ(message.logTime, 1000u + 10u * n);
        EXPECT_EQ(message.publishTime, 5000u + n);
        const std::vector<uint8_t> expected = payload(c, n);
        ASSERT_EQ(std::vector<uint8_t>(message.data, message.data + message.size), expected);
    }
    EXPECT_EQ(reader.error(), "");
    EXPECT_FALSE(reader.truncated());
    EXPECT_EQ(seen[0], kMessages);
    EXPECT_EQ(seen[1], kMessages);

    ASSERT_EQ(reader.schemas().size(), 1u);
    EXPECT_EQ(reader.schemas().at(file.schema).name, "test/msg/Blob");
    EXPECT_EQ(reader.schemas().at(file.schema).data, "uint8[] data\n");
    ASSERT_NE(reader.channelByTopic("/a"), nullptr);
    EXPECT_EQ(reader.channelByTopic("/a")->metadata.at("k"), "v");
    EXPECT_EQ(reader.channelByTopic("/b")->schemaId, 0);
    ASSERT_EQ(reader.metadata().size(), 1u);
    EXPECT_EQ(reader.metadata()[0].entries.at("width"), "240");

    Statistics statistics;
    uint32_t chunkIndexes = 0;
    ASSERT_EQ(reader.readSummary(statistics, chunkIndexes), 0) << reader.error();
    EXPECT_EQ(statistics.messageCount, 2u * kMessages);
    EXPECT_EQ(statistics.schemaCount, 1u);
    EXPECT_EQ(statistics.channelCount, 2u);
    EXPECT_EQ(statistics.metadataCount, 1u);
    EXPECT_GT(statistics.chunkCount, 5u);  // 2 KiB chunks of ~12 KiB of messages
    EXPECT_EQ(chunkIndexes, statistics.chunkCount);
    EXPECT_EQ(statistics.messageStartTime, 1000u);
    EXPECT_EQ(statistics.messageEndTime, 1000u + 10u * (kMessages - 1));
    EXPECT_EQ(statistics.channelMessageCounts.at(file.channels[0]), uint64_t{kMessages});

    // Read again from the start: the same messages.
    reader.rewind();
    int again = 0;
    while (reader.next(message) == 1) ++again;
    EXPECT_EQ(again, 2 * kMessages);
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, McapCompressions,
                         ::testing::Values(Compression::NONE, Compression::ZSTD, Compression::LZ4),
                         [](const ::testing::TestParamInfo<Compression>& info) {
                             return std::string(info.param == Compression::NONE
                                                    ? "none"
                                                    : compressionName(info.param));
                         });

// Messages a reader delivers from the first `size` bytes of `bytes`.
int deliveredFrom(const std::vector<uint8_t>& bytes, uint64_t size) {
    Reader reader;
    if (reader.openMemory(bytes.data(), static_cast<size_t>(size)) != 0) return -1;
    Message message;
    int count = 0;
    while (reader.next(message) == 1) ++count;
    return count;
}

TEST(McapTruncatedFile, EveryCompleteChunkPlaysAndTheCutChunkIsCounted) {
    for (Compression compression : {Compression::NONE, Compression::ZSTD, Compression::LZ4}) {
        if (!compressionAvailable(compression)) continue;
        SCOPED_TRACE(compressionName(compression));
        const WrittenFile file(compression, "truncated");
        const std::vector<uint8_t> whole = fileBytes(file.path);
        const auto spans = chunkSpans(whole);
        ASSERT_GT(spans.size(), 4u);

        for (size_t k : {size_t{2}, spans.size() - 1}) {
            const int before = deliveredFrom(whole, spans[k].first);
            const int through = deliveredFrom(whole, spans[k].second);
            ASSERT_GT(through, before);
            // Cut in the middle of chunk k (half its compressed bytes written), and just
            // after it, before its message indexes.
            for (uint64_t cut : {(spans[k].first + spans[k].second) / 2, spans[k].second}) {
                SCOPED_TRACE("cut at " + std::to_string(cut) + " in chunk " + std::to_string(k));
                Reader reader;
                ASSERT_EQ(reader.openMemory(whole.data(), static_cast<size_t>(cut)), 0);
                Message message;
                int delivered = 0;
                int result;
                while ((result = reader.next(message)) == 1) {
                    ++delivered;
                    const int c = message.channelId == file.channels[0] ? 0 : 1;
                    ASSERT_EQ(std::vector<uint8_t>(message.data, message.data + message.size),
                              payload(c, static_cast<int>(message.sequence)));
                }
                EXPECT_EQ(result, 0) << reader.error();
                EXPECT_TRUE(reader.truncated());
                const uint64_t lost =
                    reader.lostMessages(file.channels[0]) + reader.lostMessages(file.channels[1]);
                if (cut < spans[k].second) {
                    // The cut chunk is withheld whole; the messages that visibly began in
                    // what survived of it are counted (a compressed block cut short shows
                    // none, the uncompressed half chunk shows its first messages).
                    EXPECT_EQ(delivered, before);
                    EXPECT_LE(lost, static_cast<uint64_t>(through - before));
                    if (compression == Compression::NONE) {
                        EXPECT_GT(lost, 0u);
                    }
                } else {
                    EXPECT_EQ(delivered, through);
                    EXPECT_EQ(lost, 0u);
                }
                Statistics statistics;
                uint32_t indexes = 0;
                EXPECT_EQ(reader.readSummary(statistics, indexes), -1);
            }
        }
    }
}

TEST(McapDamagedInput, ForeignAndCorruptFilesGiveAnErrorNotACrash) {
    Reader reader;
    EXPECT_EQ(reader.open("/nonexistent/quarvel.mcap"), -1);
    EXPECT_NE(reader.error().find("cannot open"), std::string::npos);

    const std::string text = "P6\n240 180\n255\nnot a recording at all";
    Reader foreign;
    EXPECT_EQ(foreign.openMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size()), -1);
    EXPECT_EQ(foreign.error(), "not an MCAP file (no MCAP magic at its start)");

    const WrittenFile file(defaultCompression(), "damaged");
    const std::vector<uint8_t> whole = fileBytes(file.path);
    const auto spans = chunkSpans(whole);
    ASSERT_FALSE(spans.empty());

    // A flipped byte in a chunk's (compressed) records fails its expansion or its CRC.
    std::vector<uint8_t> flipped = whole;
    flipped[static_cast<size_t>(spans[1].second - 20)] ^= 0x5A;
    Reader damaged;
    ASSERT_EQ(damaged.openMemory(flipped.data(), flipped.size()), 0);
    Message message;
    int result;
    while ((result = damaged.next(message)) == 1) {
    }
    EXPECT_EQ(result, -1);
    EXPECT_NE(damaged.error().find("chunk"), std::string::npos) << damaged.error();

    // A chunk that claims an absurd expanded size is refused before anything is allocated.
    std::vector<uint8_t> huge = whole;
    const size_t sizeField = static_cast<size_t>(spans[0].first + kRecordPrefix + 16);
    for (int i = 0; i < 8; ++i) huge[sizeField + i] = 0xFF;
    Reader boasting;
    ASSERT_EQ(boasting.openMemory(huge.data(), huge.size()), 0);
    while ((result = boasting.next(message)) == 1) {
    }
    EXPECT_EQ(result, -1);
    EXPECT_NE(boasting.error().find("too large"), std::string::npos) << boasting.error();

    // Every single-byte change of the first kilobyte: an answer, never a crash or a hang.
    for (size_t at = 0; at < 1024 && at < whole.size(); ++at) {
        std::vector<uint8_t> changed = whole;
        changed[at] ^= 0xFF;
        Reader any;
        if (any.openMemory(changed.data(), changed.size()) != 0) continue;
        int steps = 0;
        while (any.next(message) == 1 && steps < 10 * kMessages) ++steps;
        EXPECT_LE(steps, 2 * kMessages);
    }
}

TEST(McapWriter, RefusesAPathItCannotCreate) {
    Writer writer;
    EXPECT_EQ(writer.open("/nonexistent/dir/run.mcap", WriterOptions{}), -1);
    EXPECT_NE(writer.error().find("cannot create"), std::string::npos);
}

}  // namespace
