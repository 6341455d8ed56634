// Recording a camera and playing it back, through the real HQVGA and VGA devices on the
// simulated USB camera: the replayed depth equals the recorded depth bit for bit, the depth
// images of the file are the camera's depth in metres, and a disk that stops taking data
// costs recorded frames, never camera frames.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "recording/McapReader.h"
#include "recording/Playback.h"
#include "recording/Recorder.h"
#include "recording/RecordingChannels.h"
#include "tests/recording/McapTestFiles.h"
#include "tests/support/Waits.h"
#include "tests/usb/UsbTestSupport.h"

using namespace Quarvel;

namespace {

uint64_t frameTimestamp(QuarvelFrameBuffer* frame) {
    FrameDataFormat format{};
    frame->getFormat(FrameType::DEPTH, format);
    return format.timestamp;
}

std::vector<float> depthOf(QuarvelFrameBuffer* frame) {
    FrameDataFormat format{};
    frame->getFormat(FrameType::DEPTH, format);
    const float* depth = static_cast<float*>(frame->getData(FrameType::DEPTH));
    return std::vector<float>(depth, depth + static_cast<size_t>(format.width) * format.height);
}

// Depth frames by sensor timestamp.
using DepthFrames = std::map<uint64_t, std::vector<float>>;

// Streams `frames` depth frames from the simulated USB camera described by `description`,
// recording them to `path`; returns what the camera delivered.
DepthFrames recordCamera(const std::string& description, const std::string& path, int frames,
                         RecorderStats& stats, size_t chunkBytes = 4u << 20) {
    usbtest::ScratchDirectory scratch;
    const std::string config = scratch.write("camera.conf", description);
    Recorder recorder;
    RecorderOptions options;
    options.queueFrames = 64;  // a busy test machine must not make it drop
    options.writer.chunkBytes = chunkBytes;
    EXPECT_EQ(recorder.open(path, options), 0) << recorder.error();
    auto components = recordingComponents(defaultComponents(), recorder);
    DepthFrames live;
    {
        QuarvelTOFCamera camera(*components);
        EXPECT_EQ(camera.openWithFile(config.c_str(), 0), 0);
        EXPECT_EQ(camera.start(FrameType::DEPTH), 0);
        for (int n = 0; n < frames; ++n) {
            QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
            if (frame == nullptr) {
                ADD_FAILURE() << "no live frame " << n;
                break;
            }
            live[frameTimestamp(frame)] = depthOf(frame);
            camera.releaseFrame(frame);
        }
        EXPECT_EQ(camera.stop(), 0);
        EXPECT_EQ(camera.close(), 0);
    }
    EXPECT_EQ(recorder.close(), 0) << recorder.error();
    stats = recorder.stats();
    return live;
}

// Plays `path` back through a camera opened on it and returns every frame it delivered.
DepthFrames replay(const std::string& path, std::shared_ptr<PlaybackReport>& report, bool paced) {
    PlaybackOptions options;
    options.paced = paced;
    PlaybackComponents components(path, options);
    DepthFrames replayed;
    QuarvelTOFCamera camera(components);
    EXPECT_EQ(camera.open(Connection::USB, 0), 0) << components.report()->error();
    report = components.report();
    EXPECT_EQ(camera.start(FrameType::DEPTH), 0);
    // The user takes each frame as it comes; the capture thread never waits for the user,
    // so a frame is only lost to overwriting when this thread falls far behind.
    while (!report->finished.load()) {
        QuarvelFrameBuffer* frame = camera.requestFrame(50);
        if (frame == nullptr) continue;
        replayed[frameTimestamp(frame)] = depthOf(frame);
        camera.releaseFrame(frame);
    }
    while (QuarvelFrameBuffer* frame = camera.requestFrame(0)) {
        replayed[frameTimestamp(frame)] = depthOf(frame);
        camera.releaseFrame(frame);
    }
    EXPECT_EQ(camera.stop(), 0);
    EXPECT_EQ(camera.close(), 0);
    return replayed;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The CDR image of a depth message: its 32FC1 samples, read by the CDR rules.
std::vector<float> imageSamples(const mcap::Message& message, uint32_t& width, uint32_t& height) {
    const uint8_t* cdr = message.data + 4;
    const size_t size = message.size - 4;
    size_t at = 8;
    auto u32 = [&]() {
        at = (at + 3) & ~size_t{3};
        uint32_t value = 0;
        if (at + 4 <= size) std::memcpy(&value, cdr + at, 4);
        at += 4;
        return value;
    };
    at += u32();  // frame_id
    height = u32();
    width = u32();
    at += u32();  // encoding
    at += 1;      // is_bigendian
    u32();        // step
    const uint32_t bytes = u32();
    std::vector<float> samples(bytes / 4);
    if (at + bytes <= size) std::memcpy(samples.data(), cdr + at, bytes);
    return samples;
}

struct Scratch {
    explicit Scratch(const std::string& name)
        : path("/tmp/quarvel-replay-" + std::to_string(::getpid()) + "-" + name) {}
    ~Scratch() { std::remove(path.c_str()); }
    std::string path;
};

class RecordAndReplay : public ::testing::TestWithParam<const char*> {};

TEST_P(RecordAndReplay, ReplayedDepthEqualsRecordedDepthBitForBit) {
    const std::string description = GetParam();
    const Scratch file(description == "sensor = vga\n" ? "vga.mcap" : "hqvga.mcap");
    RecorderStats stats;
    const DepthFrames live = recordCamera(description, file.path, 6, stats);
    ASSERT_EQ(live.size(), 6u);
    EXPECT_GE(stats.framesRecorded, 6u);
    EXPECT_EQ(stats.framesDropped, 0u);

    // The file's depth images are the delivered depth in metres, matched through the raw
    // frame of the same log time, whose publish time is the sensor's timestamp.
    mcap::Reader reader;
    ASSERT_EQ(reader.open(file.path), 0) << reader.error();
    std::map<uint64_t, uint64_t> timestampAtLogTime;
    int depthImages = 0, checkedImages = 0;
    mcap::Message message;
    while (reader.next(message) == 1) {
        const std::string& topic = reader.channels().at(message.channelId).topic;
        if (topic == recording::kRawTopic) {
            timestampAtLogTime[message.logTime] = message.publishTime / 1000000u;
            continue;
        }
        if (topic != recording::kDepthTopic) continue;
        ++depthImages;
        const auto raw = timestampAtLogTime.find(message.logTime);
        ASSERT_NE(raw, timestampAtLogTime.end());
        const auto delivered = live.find(raw->second);
        if (delivered == live.end()) continue;
        uint32_t width = 0, height = 0;
        const std::vector<float> metres = imageSamples(message, width, height);
        ASSERT_EQ(metres.size(), delivered->second.size());
        for (size_t i = 0; i < metres.size(); ++i) {
            ASSERT_EQ(metres[i], delivered->second[i] / 1000.0f) << "pixel " << i;
        }
        ++checkedImages;
    }
    EXPECT_EQ(reader.error(), "");
    EXPECT_EQ(depthImages, static_cast<int>(stats.framesRecorded));
    EXPECT_EQ(checkedImages, 6);

    std::shared_ptr<PlaybackReport> report;
    // Paced as recorded, so this thread takes the frames as the live camera's user did.
    const DepthFrames replayed = replay(file.path, report, true);
    EXPECT_EQ(report->framesPlayed.load(), stats.framesRecorded);
    EXPECT_EQ(report->framesLost.load(), 0u);
    EXPECT_FALSE(report->truncated.load());
    EXPECT_EQ(report->error(), "");
    int matched = 0;
    for (const auto& frame : replayed) {
        const auto recorded = live.find(frame.first);
        if (recorded == live.end()) continue;
        EXPECT_TRUE(sameBits(frame.second, recorded->second)) << "timestamp " << frame.first;
        ++matched;
    }
    // A frame can still be overwritten before a thread slowed by a busy machine takes it.
    EXPECT_GE(matched, 3);
}

INSTANTIATE_TEST_SUITE_P(BothSensors, RecordAndReplay,
                         ::testing::Values("sensor = hqvga\n", "sensor = vga\n"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0 ? "Hqvga" : "Vga");
                         });

TEST(RecordAndReplayTruncated, AFileCutMidChunkPlaysItsCompleteChunksAndCountsTheRest) {
    const Scratch file("cut.mcap");
    RecorderStats stats;
    // Chunks of about two frames, so the cut leaves several whole ones.
    const DepthFrames live = recordCamera("sensor = hqvga\n", file.path, 8, stats, 1u << 20);
    ASSERT_GE(stats.framesRecorded, 8u);
    // Power lost in the middle of a chunk halfway through: the summary and the later
    // chunks are gone.
    const std::vector<uint8_t> whole = mcaptest::fileBytes(file.path);
    const auto spans = mcaptest::chunkSpans(whole);
    ASSERT_GE(spans.size(), 3u);
    const auto& middle = spans[spans.size() / 2];
    const Scratch cut("cut-short.mcap");
    mcaptest::writeBytes(cut.path, whole.data(),
                         static_cast<size_t>((middle.first + middle.second) / 2));
    std::shared_ptr<PlaybackReport> report;
    const DepthFrames replayed = replay(cut.path, report, false);
    EXPECT_TRUE(report->truncated.load());
    EXPECT_EQ(report->error(), "");
    EXPECT_GT(report->framesPlayed.load(), 0u);
    EXPECT_GT(report->framesLost.load(), 0u);
    EXPECT_LE(report->framesPlayed.load() + report->framesLost.load(), stats.framesRecorded);
    for (const auto& frame : replayed) {
        const auto recorded = live.find(frame.first);
        if (recorded != live.end()) {
            EXPECT_TRUE(sameBits(frame.second, recorded->second));
        }
    }
}

TEST(RecordAndReplayForeign, AForeignFileIsRefusedWithItsReason) {
    const Scratch file("foreign.mcap");
    {
        FILE* out = std::fopen(file.path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fputs("#!/bin/sh\necho not a recording\n", out);
        std::fclose(out);
    }
    PlaybackComponents components(file.path, PlaybackOptions{});
    QuarvelTOFCamera camera(components);
    EXPECT_EQ(camera.open(Connection::CSI, 0), -1);
    EXPECT_EQ(components.report()->error(), "not an MCAP file (no MCAP magic at its start)");
}

TEST(RecordingSlowDisk, ADiskThatStopsCostsRecordedFramesNotCameraFrames) {
    // A FIFO nobody reads stands for a disk that stops taking data: once its buffer is full
    // the writer thread blocks in its write.
    const std::string fifo = "/tmp/quarvel-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int readEnd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readEnd, 0);
    Recorder recorder;
    RecorderOptions options;
    options.queueFrames = 2;
    ASSERT_EQ(recorder.open(fifo, options), 0) << recorder.error();
    auto components = recordingComponents(defaultComponents(), recorder);

    std::vector<uint8_t> drained;
    std::thread drain;
    int32_t delivered = 0;
    {
        QuarvelTOFCamera camera(*components);
        ASSERT_EQ(camera.open(Connection::USB, 0), 0);
        ASSERT_EQ(camera.start(FrameType::DEPTH), 0);
        // The camera keeps delivering while the recording is stuck.
        for (int n = 0; n < 10; ++n) {
            QuarvelFrameBuffer* frame = camera.requestFrame(support::kFrameArrivalMs);
            ASSERT_NE(frame, nullptr) << "frame " << n;
            camera.releaseFrame(frame);
        }
        EXPECT_TRUE(support::eventually([&] { return recorder.stats().framesDropped > 0; }));
        // Now the disk comes back: everything queued is written.
        drain = std::thread([&] {
            ::fcntl(readEnd, F_SETFL, 0);
            uint8_t buffer[65536];
            ssize_t got;
            while ((got = ::read(readEnd, buffer, sizeof buffer)) > 0) {
                drained.insert(drained.end(), buffer, buffer + got);
            }
        });
        EXPECT_EQ(camera.stop(), 0);
        delivered = camera.frameCountDelivered();
        camera.close();
    }
    EXPECT_EQ(recorder.close(), 0) << recorder.error();
    drain.join();
    ::close(readEnd);
    ::unlink(fifo.c_str());

    const RecorderStats stats = recorder.stats();
    EXPECT_GE(delivered, 10);
    EXPECT_GT(stats.framesDropped, 0u);
    EXPECT_EQ(stats.framesRecorded + stats.framesDropped, static_cast<uint64_t>(delivered));
    // What reached the disk is a whole recording of the frames counted as recorded.
    mcap::Reader reader;
    ASSERT_EQ(reader.openMemory(drained.data(), drained.size()), 0) << reader.error();
    mcap::Message message;
    uint64_t raw = 0;
    while (reader.next(message) == 1) {
        if (reader.channels().at(message.channelId).topic == recording::kRawTopic) ++raw;
    }
    EXPECT_EQ(reader.error(), "");
    EXPECT_FALSE(reader.truncated());
    EXPECT_EQ(raw, stats.framesRecorded);
}

}  // namespace
