// The C++ side of the interop test with the MCAP reference implementation.
//   quarvel_mcap_interop write DIR   synthetic files in every compression, a recording of
//                                    the simulated camera with what it delivered, image.msg
//   quarvel_mcap_interop check FILE  reads js-written.mcap (made by @mcap/core) and checks it
//   quarvel_mcap_interop seeds DIR   the seed corpus of fuzz_mcap_reader
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/QuarvelTOFCamera.h"
#include "recording/McapReader.h"
#include "recording/McapWriter.h"
#include "recording/Recorder.h"
#include "recording/RecordingChannels.h"
#include "recording/Ros2Messages.h"

using namespace Quarvel;

namespace {

constexpr int kFrames = 5;
constexpr uint32_t kWidth = 240, kHeight = 180;

int failures = 0;
void check(bool condition, const std::string& what) {
    if (!condition) {
        ++failures;
        std::fprintf(stderr, "FAIL %s\n", what.c_str());
    }
}

// Frame n at second n: depth image, camera info, raw frame, a range change; chunks of about
// one frame so the reference reader has several chunks to index.
bool writeSynthetic(const std::string& path, mcap::Compression compression) {
    mcap::Writer writer;
    mcap::WriterOptions options;
    options.compression = compression;
    options.chunkBytes = 300000;
    if (writer.open(path, options) != 0) {
        std::fprintf(stderr, "%s\n", writer.error().c_str());
        return false;
    }
    const uint16_t image = writer.addSchema(ros2::kImageName, "ros2msg", ros2::imageSchema());
    const uint16_t info =
        writer.addSchema(ros2::kCameraInfoName, "ros2msg", ros2::cameraInfoSchema());
    const uint16_t depth = writer.addChannel(image, recording::kDepthTopic, "cdr", {});
    const uint16_t camera = writer.addChannel(info, recording::kCameraInfoTopic, "cdr", {});
    const uint16_t raw =
        writer.addChannel(0, recording::kRawTopic, recording::kRawEncoding,
                          {{"width", "240"}, {"height", "180"}, {"subframes", "4"}});
    const uint16_t controls = writer.addChannel(0, recording::kControlsTopic, "json", {});
    writer.addMetadata(recording::kCameraMetadata, {{"device_type", "HQVGA"}});
    std::vector<float> plane(kWidth * kHeight);
    std::vector<uint16_t> samples(kWidth * kHeight * 4);
    std::vector<uint8_t> encoded;
    Intrinsics lens = Intrinsics::nominal(kWidth, kHeight);
    lens.fx = lens.fy = 0.5 * kWidth;  // a 90 degree field
    const ros2::CameraModel model = ros2::cameraModelOf(lens);
    for (int n = 0; n < kFrames; ++n) {
        const uint64_t t = static_cast<uint64_t>(n) * 1000000000u;
        for (size_t i = 0; i < plane.size(); ++i) {
            plane[i] = static_cast<float>(i % 240) * 0.001f + static_cast<float>(n);
        }
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<uint16_t>((i + n) & 0xFFF);
        const ros2::Header header = ros2::headerAt(t, recording::kDepthFrameId);
        ros2::encodeImage(header, kHeight, kWidth, "32FC1", kWidth * 4,
                          reinterpret_cast<const uint8_t*>(plane.data()), encoded);
        writer.write(depth, n, t, t, encoded.data(), encoded.size());
        ros2::encodeCameraInfo(header, model, encoded);
        writer.write(camera, n, t, t, encoded.data(), encoded.size());
        writer.write(raw, n, t, t, reinterpret_cast<const uint8_t*>(samples.data()),
                     samples.size() * 2);
        const std::string json =
            "{\"control\":\"RANGE\",\"value\":" + std::to_string(1000 * (n + 1)) + ",\"status\":0}";
        writer.write(controls, n, t, t, reinterpret_cast<const uint8_t*>(json.data()), json.size());
    }
    return writer.close() == 0;
}

// Records the simulated USB camera and keeps one delivered depth frame with its timestamp.
bool writeCamera(const std::string& dir) {
    Recorder recorder;
    RecorderOptions options;
    options.queueFrames = 64;
    if (recorder.open(dir + "/camera.mcap", options) != 0) return false;
    auto components = recordingComponents(defaultComponents(), recorder);
    std::vector<float> kept;
    uint64_t keptTimestamp = 0;
    {
        QuarvelTOFCamera camera(*components);
        if (camera.open(Connection::USB, 0) != 0 || camera.start(FrameType::DEPTH) != 0)
            return false;
        for (int n = 0; n < 4; ++n) {
            QuarvelFrameBuffer* frame = camera.requestFrame(30000);
            if (!frame) return false;
            if (n == 2) {
                FrameDataFormat format{};
                frame->getFormat(FrameType::DEPTH, format);
                const float* depth = static_cast<float*>(frame->getData(FrameType::DEPTH));
                kept.assign(depth, depth + static_cast<size_t>(format.width) * format.height);
                keptTimestamp = format.timestamp;
            }
            camera.releaseFrame(frame);
        }
        camera.stop();
        camera.close();
    }
    if (recorder.close() != 0) return false;
    const RecorderStats stats = recorder.stats();
    // The message count as our reader finds it, for the reference reader to agree with.
    mcap::Reader reader;
    if (reader.open(dir + "/camera.mcap") != 0) return false;
    mcap::Message message;
    uint64_t messages = 0;
    while (reader.next(message) == 1) ++messages;
    check(messages >= 4 * stats.framesRecorded + 1,
          "camera: raw, depth, amplitude and camera "
          "info per frame, the range set at start");
    std::ofstream(dir + "/camera-expect.json")
        << "{\"timestamp_ms\": " << keptTimestamp << ", \"frames\": " << stats.framesRecorded
        << ", \"messages\": " << messages << "}\n";
    std::ofstream(dir + "/camera-depth.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(kept.data()),
               static_cast<std::streamsize>(kept.size() * sizeof(float)));
    return stats.framesDropped == 0;
}

int write(const std::string& dir) {
    for (auto compression :
         {mcap::Compression::NONE, mcap::Compression::ZSTD, mcap::Compression::LZ4}) {
        if (!mcap::compressionAvailable(compression)) continue;
        const std::string name = compression == mcap::Compression::NONE
                                     ? std::string("none")
                                     : mcap::compressionName(compression);
        check(writeSynthetic(dir + "/synthetic-" + name + ".mcap", compression), "write " + name);
    }
    check(writeCamera(dir), "record the simulated camera");
    // The reference writer encodes its images with our schema text.
    std::ofstream(dir + "/image.msg") << ros2::imageSchema();
    return failures == 0 ? 0 : 1;
}

// Small recordings for the reader's fuzz corpus: every compression, whole and cut mid-file.
int seeds(const std::string& dir) {
    for (auto compression :
         {mcap::Compression::NONE, mcap::Compression::ZSTD, mcap::Compression::LZ4}) {
        const std::string name = compression == mcap::Compression::NONE
                                     ? std::string("none")
                                     : mcap::compressionName(compression);
        const std::string path = dir + "/" + name + ".mcap";
        mcap::Writer writer;
        mcap::WriterOptions options;
        options.compression = compression;
        options.chunkBytes = 96;
        if (writer.open(path, options) != 0) return 1;
        const uint16_t image = writer.addSchema(ros2::kImageName, "ros2msg", "uint32 height\n");
        const uint16_t depth =
            writer.addChannel(image, recording::kDepthTopic, "cdr", {{"unit", "m"}});
        const uint16_t raw =
            writer.addChannel(0, recording::kRawTopic, recording::kRawEncoding,
                              {{"width", "2"}, {"height", "2"}, {"subframes", "1"}});
        writer.addMetadata(recording::kCameraMetadata, {{"device_type", "HQVGA"}});
        for (uint32_t n = 0; n < 6; ++n) {
            const uint8_t samples[8] = {1, 0, 2, 0, 3, 0, static_cast<uint8_t>(n), 0};
            writer.write(raw, n, 1000u * n, n * 1000000u, samples, sizeof samples);
            writer.write(depth, n, 1000u * n, 1000u * n, samples, 4);
        }
        if (writer.close() != 0) return 1;
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(dir + "/" + name + "-cut.mcap", std::ios::binary)
            << bytes.substr(0, bytes.size() * 2 / 3);
    }
    return 0;
}

int checkReference(const std::string& path) {
    mcap::Reader reader;
    if (reader.open(path) != 0) {
        std::fprintf(stderr, "FAIL %s\n", reader.error().c_str());
        return 1;
    }
    mcap::Message message;
    int images = 0, texts = 0;
    while (reader.next(message) == 1) {
        const mcap::Channel& channel = reader.channels().at(message.channelId);
        if (channel.topic == "/js/depth") {
            const int n = images++;
            check(message.sequence == static_cast<uint32_t>(n) && message.logTime == 1000u * n &&
                      message.publishTime == 1000u * n + 1,
                  "image message fields");
            // The image's samples are its last 32 bytes, after the 4-byte length.
            check(message.size >= 36, "image size");
            float values[8];
            std::memcpy(values, message.data + message.size - 32, sizeof values);
            uint32_t length = 0;
            std::memcpy(&length, message.data + message.size - 36, 4);
            check(length == 32, "image data length");
            for (int i = 0; i < 8; ++i) check(values[i] == i * 0.5f + n, "image sample");
        } else if (channel.topic == "/js/text") {
            const std::string text(reinterpret_cast<const char*>(message.data), message.size);
            check(text == "{\"n\":" + std::to_string(texts++) + "}", "json message " + text);
        }
    }
    check(reader.error().empty(), "reader error: " + reader.error());
    check(!reader.truncated(), "not truncated");
    check(images == 3 && texts == 3, "three messages on each channel");
    const mcap::Channel* depth = reader.channelByTopic("/js/depth");
    check(depth && depth->metadata.count("unit") && depth->metadata.at("unit") == "m",
          "channel metadata");
    check(depth && reader.schemas().count(depth->schemaId) &&
              reader.schemas().at(depth->schemaId).name == "sensor_msgs/msg/Image",
          "schema");
    check(
        reader.metadata().size() == 1 && reader.metadata()[0].entries.at("writer") == "@mcap/core",
        "metadata");
    mcap::Statistics statistics;
    uint32_t chunkIndexes = 0;
    check(reader.readSummary(statistics, chunkIndexes) == 0, "summary: " + reader.error());
    check(statistics.messageCount == 6 && chunkIndexes > 1, "summary statistics");
    if (failures == 0) std::printf("ok %s read by our reader\n", path.c_str());
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "write") return write(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "check") return checkReference(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "seeds") return seeds(argv[2]);
    std::fprintf(stderr, "usage: %s write DIR | check FILE\n", argv[0]);
    return 2;
}
