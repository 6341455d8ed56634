// Plays a recording back as a camera: a sensor transport that replays the raw channel, so
// the frames pass through the same device (HQVGA or VGA) as when they were recorded.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/ComponentFactory.h"

namespace Quarvel {

struct PlaybackOptions {
    // Paced by the recorded times (as the camera delivered them), or as fast as possible.
    bool paced = true;
    // Starts again from the first frame at the end instead of ending the stream.
    bool loop = false;
};

// What a playback has done so far; shared between the transport and whoever asked for it.
struct PlaybackReport {
    std::atomic<uint64_t> framesPlayed{0};
    // Frames missing from the file: dropped while recording (gaps in the sequence) and
    // those of a chunk cut off at the end of a truncated file.
    std::atomic<uint64_t> framesLost{0};
    std::atomic<bool> truncated{false};
    std::atomic<bool> finished{false};  // the last frame was played (and no loop)
    std::string error() const;
    void setError(const std::string& text);

private:
    mutable std::mutex textMutex;  // guards text
    std::string text;
};

// Components whose CSI and USB transports (whatever the index or path) play `path`, with
// the production HQVGA and VGA devices. The report follows the last transport made.
class PlaybackComponents final : public ComponentFactory {
public:
    PlaybackComponents(std::string path, PlaybackOptions options);
    std::unique_ptr<QuarvelTOFSensor> makeCsiSensor(const char* devicePath,
                                                    int boardModel) const override;
    std::unique_ptr<QuarvelTOFSensor> makeUsbSensor(const std::string& configPath,
                                                    int index) const override;
    std::unique_ptr<QuarvelDevice> makeHqvgaDevice(int boardModel) const override;
    std::unique_ptr<QuarvelDevice> makeVgaDevice(int boardModel) const override;
    std::shared_ptr<PlaybackReport> report() const;

private:
    std::unique_ptr<QuarvelTOFSensor> makePlayer() const;
    std::string path;
    PlaybackOptions options;
    mutable std::mutex reportMutex;  // guards lastReport
    mutable std::shared_ptr<PlaybackReport> lastReport;
};

// The transport alone, for embedders with their own component set.
std::unique_ptr<QuarvelTOFSensor> createPlaybackSensor(const std::string& path,
                                                       const PlaybackOptions& options,
                                                       std::shared_ptr<PlaybackReport> report);

}  // namespace Quarvel
