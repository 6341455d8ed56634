// Records a camera's stream to an MCAP file without ever holding up its capture thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/ComponentFactory.h"
#include "core/Types.h"
#include "recording/McapWriter.h"
#include "recording/Ros2Messages.h"

namespace Quarvel {

struct RecorderOptions {
    mcap::WriterOptions writer;
    // Frames that may wait for the disk; one more finds the queue full and is dropped.
    size_t queueFrames = 8;
    // The lens written as camera info; when it is not of the streamed size (as by default),
    // the sensor's nominal intrinsics are written instead.
    Intrinsics lens;
};

struct RecorderStats {
    uint64_t framesRecorded = 0;  // written to the file
    uint64_t framesDropped = 0;   // seen by the capture thread but not recorded (queue full)
    uint64_t bytesWritten = 0;
    double seconds = 0;  // between the first and the last recorded frame
    bool writeFailed = false;
};

// Use: open a file, build the camera with recordingComponents(...) and stream; close() (or
// destruction) drains what is queued and finishes the file. The capture thread only copies
// a frame into a free slot of a bounded queue: when the disk falls behind, frames are
// dropped from the recording (counted), never from the camera. The recorder must outlive
// the camera built with its components.
class Recorder {
public:
    Recorder() = default;
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    int open(const std::string& path, const RecorderOptions& options);
    int close();
    RecorderStats stats() const;
    std::string error() const;

    // Hooks of the recording components. Stream start (user thread): the sizes of what
    // the capture thread will hand over; waits until the writer holds no slot.
    void prepareRaw(const CameraInfo& info, int subframes, const int controls[7]);
    void preparePlanes(int width, int height);
    // Capture thread: a frame read into the cache, its planes, and its end.
    void beginFrame(const uint8_t* cache, uint64_t timestamp);
    void addPlanes(const float* depth, const float* amplitude);
    void endFrame();
    // Any thread: a control change and its result.
    void control(CameraCtrl ctrl, int value, int status);

private:
    struct Slot {
        std::vector<uint8_t> raw;
        std::vector<float> depth, amplitude;
        bool hasPlanes = false;
        uint64_t timestamp = 0, logTime = 0;
        uint32_t sequence = 0;
        int format = 0;  // index of the raw geometry in formats
    };
    struct Format {
        uint32_t width, height, subframes;
        uint16_t channel;
    };
    struct ControlEvent {
        uint64_t logTime;
        CameraCtrl ctrl;
        int value, status;
    };
    void writerLoop();
    void writeFrame(Slot& slot);
    void writeControl(const ControlEvent& event);
    void waitForIdleSlots(std::unique_lock<std::mutex>& lock);

    mcap::Writer writer;  // the writer thread's alone once it runs
    RecorderOptions options;
    uint16_t depthChannel = 0, amplitudeChannel = 0, infoChannel = 0, controlChannel = 0;
    uint32_t depthSequence = 0, controlSequence = 0;
    std::vector<uint8_t> encoded;
    std::vector<Format> formats;  // writer thread, and prepareRaw while no slot is out

    mutable std::mutex queueMutex;  // guards slots' ownership, freeSlots, readySlots, events
    std::condition_variable queueChanged;
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<size_t> freeSlots;
    std::deque<size_t> readySlots;
    std::vector<ControlEvent> events;
    std::vector<mcap::StringMap> cameraRecords;  // descriptions to write as metadata
    size_t slotsOut = 0;                         // taken by the writer
    bool closing = true;                         // until open, and from close on
    int currentFormat = -1;
    uint32_t planeWidth = 0, planeHeight = 0;
    ros2::CameraModel cameraModel;

    // Capture thread only.
    long pending = -1;
    uint32_t frameSequence = 0;

    std::atomic<uint64_t> recorded{0}, dropped{0}, bytes{0}, firstTime{0}, lastTime{0};
    std::atomic<bool> failed{false};
    std::string failure;  // guarded by queueMutex
    std::thread worker;
};

// The components of `inner`, with every sensor and device made by them recorded by
// `recorder` (which must outlive the components and the cameras built with them).
std::unique_ptr<ComponentFactory> recordingComponents(const ComponentFactory& inner,
                                                      Recorder& recorder);

}  // namespace Quarvel
