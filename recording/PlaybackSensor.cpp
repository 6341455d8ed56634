// The playback transport: the raw channel of a recording, frame by frame.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "recording/McapReader.h"
#include "recording/Playback.h"
#include "recording/RecordingChannels.h"

namespace Quarvel {

std::string PlaybackReport::error() const {
    std::lock_guard<std::mutex> lock(textMutex);
    return text;
}

void PlaybackReport::setError(const std::string& value) {
    std::lock_guard<std::mutex> lock(textMutex);
    text = value;
}

namespace {

// A stream that has ended waits this long per request, so the capture thread does not spin.
constexpr auto kEndedPause = std::chrono::milliseconds(5);
// A recorded pause longer than this is shortened: stop must not wait on it.
constexpr uint64_t kLongestPauseNs = 1000000000ull;

uint32_t metadataNumber(const mcap::StringMap& map, const char* key) {
    const auto found = map.find(key);
    if (found == map.end()) return 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(found->second.c_str(), &end, 10);
    return (end && *end == '\0' && value <= 0xFFFFFFFFul) ? static_cast<uint32_t>(value) : 0;
}

class PlaybackSensor final : public QuarvelTOFSensor {
public:
    PlaybackSensor(std::string file, PlaybackOptions chosen, std::shared_ptr<PlaybackReport> r)
        : path(std::move(file)), options(chosen), report(std::move(r)) {}

    int open(CameraInfo& info) override {
        if (reader.open(path) != 0) return fail(reader.error());
        // The raw channel and the camera's description come before the first raw frame.
        mcap::Message message;
        int result;
        while ((result = reader.next(message)) == 1) {
            if (isRaw(message.channelId)) break;
        }
        if (result < 0) return fail(reader.error());
        if (result == 0 && reader.truncated()) {
            const mcap::Channel* raw = reader.channelByTopic(recording::kRawTopic);
            const uint64_t lost = raw ? reader.lostMessages(raw->id) : 0;
            return fail("the recording was cut short before its first complete chunk (" +
                        std::to_string(lost) + " frames lost)");
        }
        if (result == 0) return fail("the recording holds no raw frame");
        const mcap::Channel& raw = reader.channels().at(message.channelId);
        rawChannel = raw.id;
        width = metadataNumber(raw.metadata, recording::kWidthKey);
        height = metadataNumber(raw.metadata, recording::kHeightKey);
        subframes = metadataNumber(raw.metadata, recording::kSubframesKey);
        if (width == 0 || height == 0 || subframes == 0) {
            return fail("the raw channel does not say its frame geometry");
        }
        info.width = width;
        info.height = height;
        info.bit_width = 12;
        info.bpp = 2;
        for (const mcap::MetadataRecord& record : reader.metadata()) {
            if (record.name != recording::kCameraMetadata) continue;
            if (uint32_t bits = metadataNumber(record.entries, recording::kBitWidthKey)) {
                info.bit_width = bits;
            }
            for (int c = 0; c < 7; ++c) {
                const std::string key = std::string("control.") + kControlNames[c];
                if (record.entries.count(key)) {
                    controls[c] = std::atoi(record.entries.at(key).c_str());
                }
            }
            break;
        }
        own = info;
        rewindStream();
        return 0;
    }
    int close() override { return 0; }
    int start() override {
        // A camera started again plays on from where it stopped, paced anew.
        paceStarted = false;
        return 0;
    }
    int stop() override { return 0; }
    CameraInfo getCameraInfo() override { return own; }

    int getFrame(uint8_t* dst, uint64_t* timestamp) override {
        mcap::Message message;
        for (;;) {
            const int result = reader.next(message);
            if (result == 1) {
                if (message.channelId != rawChannel) continue;
                break;
            }
            if (result < 0) {
                report->setError(reader.error());
                return ended();
            }
            if (!finishedPass) noteEndOfFile();
            if (!options.loop || played == 0) return ended();
            rewindStream();
        }
        const size_t frameBytes =
            static_cast<size_t>(width) * height * static_cast<uint32_t>(subframeCount) * 2u;
        if (message.size != frameBytes) {
            report->setError("a raw frame of " + std::to_string(message.size) +
                             " bytes does not fit the camera's frame of " +
                             std::to_string(frameBytes));
            return -1;
        }
        if (havePrevious && message.sequence > previousSequence + 1 && !finishedPass) {
            report->framesLost.fetch_add(message.sequence - previousSequence - 1);
        }
        previousSequence = message.sequence;
        havePrevious = true;
        pace(message.logTime);
        std::memcpy(dst, message.data, frameBytes);
        *timestamp = message.publishTime / 1000000u;
        ++played;
        report->framesPlayed.fetch_add(1);
        return 0;
    }

    // The controls the devices set on a sensor are kept and read back; the values at the
    // start of the recording are the first answers.
    int setControl(CameraCtrl ctrl, int value) override {
        const int c = static_cast<int>(ctrl);
        if (c < 0 || c >= 7) return 1;
        controls[c] = value;
        return 0;
    }
    int getControl(CameraCtrl ctrl, int* value) override {
        const int c = static_cast<int>(ctrl);
        if (c < 0 || c >= 7) return 1;
        *value = controls[c];
        return 0;
    }

private:
    static constexpr const char* kControlNames[7] = {
        "RANGE", "FMT_WIDTH", "FMT_HEIGHT", "MODE", "FRAME_MODE", "EXPOSURE", "FRAME_RATE"};

    bool isRaw(uint16_t channelId) const {
        const auto found = reader.channels().find(channelId);
        return found != reader.channels().end() && found->second.topic == recording::kRawTopic;
    }
    int fail(const std::string& why) {
        report->setError(why);
        return -1;
    }
    void rewindStream() {
        reader.rewind();
        havePrevious = false;
        paceStarted = false;
    }
    void noteEndOfFile() {
        finishedPass = true;
        if (reader.truncated()) {
            report->truncated.store(true);
            report->framesLost.fetch_add(reader.lostMessages(rawChannel));
        }
    }
    int ended() {
        report->finished.store(true);
        std::this_thread::sleep_for(kEndedPause);
        return -1;
    }
    void pace(uint64_t logTime) {
        if (!options.paced) return;
        const auto now = std::chrono::steady_clock::now();
        if (!paceStarted || logTime < firstLogTime) {
            paceStarted = true;
            firstLogTime = logTime;
            paceStart = now;
            return;
        }
        uint64_t offset = logTime - firstLogTime;
        const auto due = paceStart + std::chrono::nanoseconds(offset);
        if (due - now > std::chrono::nanoseconds(kLongestPauseNs)) {
            // A long gap in the recording (a paused stream): go on after a second.
            paceStart =
                now + std::chrono::nanoseconds(kLongestPauseNs) - std::chrono::nanoseconds(offset);
            std::this_thread::sleep_for(std::chrono::nanoseconds(kLongestPauseNs));
            return;
        }
        std::this_thread::sleep_until(due);
    }

    std::string path;
    PlaybackOptions options;
    std::shared_ptr<PlaybackReport> report;
    mcap::Reader reader;
    CameraInfo own{};
    uint16_t rawChannel = 0;
    uint32_t width = 0, height = 0, subframes = 0;
    int controls[7] = {};
    uint64_t played = 0;
    bool finishedPass = false;
    bool havePrevious = false;
    uint32_t previousSequence = 0;
    bool paceStarted = false;
    uint64_t firstLogTime = 0;
    std::chrono::steady_clock::time_point paceStart;
};

}  // namespace

std::unique_ptr<QuarvelTOFSensor> createPlaybackSensor(const std::string& path,
                                                       const PlaybackOptions& options,
                                                       std::shared_ptr<PlaybackReport> report) {
    if (!report) report = std::make_shared<PlaybackReport>();
    return std::make_unique<PlaybackSensor>(path, options, std::move(report));
}

PlaybackComponents::PlaybackComponents(std::string file, PlaybackOptions chosen)
    : path(std::move(file)), options(chosen), lastReport(std::make_shared<PlaybackReport>()) {}

std::unique_ptr<QuarvelTOFSensor> PlaybackComponents::makePlayer() const {
    auto report = std::make_shared<PlaybackReport>();
    {
        std::lock_guard<std::mutex> lock(reportMutex);
        lastReport = report;
    }
    return createPlaybackSensor(path, options, std::move(report));
}

std::unique_ptr<QuarvelTOFSensor> PlaybackComponents::makeCsiSensor(const char*, int) const {
    return makePlayer();
}

std::unique_ptr<QuarvelTOFSensor> PlaybackComponents::makeUsbSensor(const std::string&, int) const {
    return makePlayer();
}

std::unique_ptr<QuarvelDevice> PlaybackComponents::makeHqvgaDevice(int boardModel) const {
    return createHqvgaDevice(boardModel);
}

std::unique_ptr<QuarvelDevice> PlaybackComponents::makeVgaDevice(int boardModel) const {
    return createVgaDevice(boardModel);
}

std::shared_ptr<PlaybackReport> PlaybackComponents::report() const {
    std::lock_guard<std::mutex> lock(reportMutex);
    return lastReport;
}

}  // namespace Quarvel
