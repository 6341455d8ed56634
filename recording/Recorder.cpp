// The recorder: a bounded slot queue filled by the capture thread, emptied by a writer thread.
#include "recording/Recorder.h"

#include <chrono>
#include <cstring>

#include "recording/RecordingChannels.h"

namespace Quarvel {

namespace {
uint64_t systemClockNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

const char* controlName(CameraCtrl ctrl) {
    switch (ctrl) {
        case CameraCtrl::RANGE:
            return "RANGE";
        case CameraCtrl::FMT_WIDTH:
            return "FMT_WIDTH";
        case CameraCtrl::FMT_HEIGHT:
            return "FMT_HEIGHT";
        case CameraCtrl::MODE:
            return "MODE";
        case CameraCtrl::FRAME_MODE:
            return "FRAME_MODE";
        case CameraCtrl::EXPOSURE:
            return "EXPOSURE";
        case CameraCtrl::FRAME_RATE:
            return "FRAME_RATE";
        case CameraCtrl::SKIP_FRAME:
            return "SKIP_FRAME";
        case CameraCtrl::SKIP_FRAME_LOOP:
            return "SKIP_FRAME_LOOP";
        case CameraCtrl::AUTO_FRAME_RATE:
            return "AUTO_FRAME_RATE";
        case CameraCtrl::CONFIG_DIR_EXT:
            return "CONFIG_DIR_EXT";
    }
    return "UNKNOWN";
}
}  // namespace

Recorder::~Recorder() { close(); }

int Recorder::open(const std::string& path, const RecorderOptions& chosen) {
    if (worker.joinable()) return -1;
    options = chosen;
    if (options.queueFrames == 0) options.queueFrames = 1;
    if (writer.open(path, options.writer) != 0) {
        std::lock_guard<std::mutex> lock(queueMutex);
        failure = writer.error();
        return -1;
    }
    const uint16_t image = writer.addSchema(ros2::kImageName, "ros2msg", ros2::imageSchema());
    const uint16_t info =
        writer.addSchema(ros2::kCameraInfoName, "ros2msg", ros2::cameraInfoSchema());
    depthChannel = writer.addChannel(image, recording::kDepthTopic, "cdr",
                                     {{"unit", "m"}, {"encoding", "32FC1"}});
    amplitudeChannel =
        writer.addChannel(image, recording::kAmplitudeTopic, "cdr", {{"encoding", "32FC1"}});
    infoChannel =
        writer.addChannel(info, recording::kCameraInfoTopic, "cdr", {{"model", "nominal pinhole"}});
    controlChannel = writer.addChannel(0, recording::kControlsTopic, "json", {});
    slots.clear();
    freeSlots.clear();
    for (size_t i = 0; i < options.queueFrames; ++i) {
        slots.push_back(std::make_unique<Slot>());
        freeSlots.push_back(i);
    }
    closing = false;
    worker = std::thread(&Recorder::writerLoop, this);
    return 0;
}

int Recorder::close() {
    if (!worker.joinable()) return failed.load() ? -1 : 0;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        closing = true;
    }
    queueChanged.notify_all();
    worker.join();
    if (writer.close() != 0) {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (failure.empty()) failure = writer.error();
        failed.store(true);
    }
    bytes.store(writer.bytesWritten());
    return failed.load() ? -1 : 0;
}

RecorderStats Recorder::stats() const {
    RecorderStats s;
    s.framesRecorded = recorded.load();
    s.framesDropped = dropped.load();
    s.bytesWritten = bytes.load();
    const uint64_t first = firstTime.load(), last = lastTime.load();
    s.seconds = last > first ? static_cast<double>(last - first) * 1e-9 : 0.0;
    s.writeFailed = failed.load();
    return s;
}

std::string Recorder::error() const {
    std::lock_guard<std::mutex> lock(queueMutex);
    return failure;
}

void Recorder::waitForIdleSlots(std::unique_lock<std::mutex>& lock) {
    queueChanged.wait(lock, [this] { return slotsOut == 0 && readySlots.empty(); });
}

void Recorder::prepareRaw(const CameraInfo& info, int subframes, const int controls[7]) {
    std::unique_lock<std::mutex> lock(queueMutex);
    waitForIdleSlots(lock);
    const uint32_t count = subframes > 0 ? static_cast<uint32_t>(subframes) : 1u;
    currentFormat = -1;
    for (size_t i = 0; i < formats.size(); ++i) {
        if (formats[i].width == info.width && formats[i].height == info.height &&
            formats[i].subframes == count) {
            currentFormat = static_cast<int>(i);
        }
    }
    if (currentFormat < 0) {
        formats.push_back({info.width, info.height, count, 0});
        currentFormat = static_cast<int>(formats.size() - 1);
    }
    const size_t rawBytes = static_cast<size_t>(info.width) * info.height * count * 2u;
    for (auto& slot : slots) slot->raw.resize(rawBytes);

    mcap::StringMap camera = {
        {recording::kWidthKey, std::to_string(info.width)},
        {recording::kHeightKey, std::to_string(info.height)},
        {recording::kSubframesKey, std::to_string(count)},
        {recording::kBitWidthKey, std::to_string(info.bit_width)},
        {recording::kBytesPerSampleKey, std::to_string(info.bpp)},
        {"device_type", info.device_type == HQVGA ? "HQVGA" : "VGA"},
        {"connect", info.connect == Connection::USB ? "USB" : "CSI"},
        {"index", std::to_string(info.index)},
        {"start_time_ns", std::to_string(systemClockNs())},
    };
    for (int c = 0; c < 7; ++c) {
        camera[std::string("control.") + controlName(static_cast<CameraCtrl>(c))] =
            std::to_string(controls[c]);
    }
    cameraRecords.push_back(camera);
    queueChanged.notify_all();
}

void Recorder::preparePlanes(int width, int height) {
    std::unique_lock<std::mutex> lock(queueMutex);
    waitForIdleSlots(lock);
    planeWidth = width > 0 ? static_cast<uint32_t>(width) : 0u;
    planeHeight = height > 0 ? static_cast<uint32_t>(height) : 0u;
    for (auto& slot : slots) {
        slot->depth.resize(static_cast<size_t>(planeWidth) * planeHeight);
        slot->amplitude.resize(static_cast<size_t>(planeWidth) * planeHeight);
    }
    const bool lensFits = options.lens.width == width && options.lens.height == height;
    cameraModel = ros2::cameraModelOf(lensFits ? options.lens : Intrinsics::nominal(width, height));
}

void Recorder::beginFrame(const uint8_t* cache, uint64_t timestamp) {
    endFrame();  // a frame dropped by the skip rule ends when the next one is read
    const uint32_t sequence = frameSequence++;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (closing || currentFormat < 0 || freeSlots.empty()) {
            dropped.fetch_add(1);
            return;
        }
        pending = static_cast<long>(freeSlots.back());
        freeSlots.pop_back();
    }
    // The slot is the capture thread's until endFrame hands it to the writer.
    Slot& slot = *slots[static_cast<size_t>(pending)];
    std::memcpy(slot.raw.data(), cache, slot.raw.size());
    slot.timestamp = timestamp;
    slot.logTime = systemClockNs();
    slot.sequence = sequence;
    slot.hasPlanes = false;
    slot.format = currentFormat;
}

void Recorder::addPlanes(const float* depth, const float* amplitude) {
    if (pending < 0) return;
    Slot& slot = *slots[static_cast<size_t>(pending)];
    if (slot.depth.empty()) return;
    std::memcpy(slot.depth.data(), depth, slot.depth.size() * sizeof(float));
    std::memcpy(slot.amplitude.data(), amplitude, slot.amplitude.size() * sizeof(float));
    slot.hasPlanes = true;
}

void Recorder::endFrame() {
    if (pending < 0) return;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        readySlots.push_back(static_cast<size_t>(pending));
    }
    pending = -1;
    queueChanged.notify_all();
}

void Recorder::control(CameraCtrl ctrl, int value, int status) {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (closing) return;
        // Bounded like the frames: a flood of control calls cannot grow memory without end.
        if (events.size() >= 1024) return;
        events.push_back({systemClockNs(), ctrl, value, status});
    }
    queueChanged.notify_all();
}

void Recorder::writerLoop() {
    std::unique_lock<std::mutex> lock(queueMutex);
    for (;;) {
        queueChanged.wait(lock, [this] {
            return closing || !readySlots.empty() || !events.empty() || !cameraRecords.empty();
        });
        std::vector<ControlEvent> controls;
        controls.swap(events);
        std::vector<mcap::StringMap> cameras;
        cameras.swap(cameraRecords);
        long taken = -1;
        if (!readySlots.empty()) {
            taken = static_cast<long>(readySlots.front());
            readySlots.pop_front();
            ++slotsOut;
        }
        const bool finish = closing && taken < 0 && controls.empty() && cameras.empty();
        if (finish) return;
        lock.unlock();
        for (const auto& camera : cameras) {
            if (!failed.load() && writer.addMetadata(recording::kCameraMetadata, camera) != 0) {
                failed.store(true);
            }
        }
        for (const ControlEvent& event : controls) writeControl(event);
        if (taken >= 0) writeFrame(*slots[static_cast<size_t>(taken)]);
        lock.lock();
        if (failed.load() && failure.empty()) failure = writer.error();
        if (taken >= 0) {
            freeSlots.push_back(static_cast<size_t>(taken));
            --slotsOut;
            queueChanged.notify_all();
        }
    }
}

void Recorder::writeControl(const ControlEvent& event) {
    if (failed.load()) return;
    const std::string json = std::string("{\"control\":\"") + controlName(event.ctrl) +
                             "\",\"value\":" + std::to_string(event.value) +
                             ",\"status\":" + std::to_string(event.status) + "}";
    if (writer.write(controlChannel, controlSequence++, event.logTime, event.logTime,
                     reinterpret_cast<const uint8_t*>(json.data()), json.size()) != 0) {
        failed.store(true);
    }
}

void Recorder::writeFrame(Slot& slot) {
    // After a failed write the frames still pass through, unrecorded and counted.
    if (failed.load()) {
        dropped.fetch_add(1);
        return;
    }
    Format& format = formats[static_cast<size_t>(slot.format)];
    if (format.channel == 0) {
        format.channel =
            writer.addChannel(0, recording::kRawTopic, recording::kRawEncoding,
                              {{recording::kWidthKey, std::to_string(format.width)},
                               {recording::kHeightKey, std::to_string(format.height)},
                               {recording::kSubframesKey, std::to_string(format.subframes)},
                               {"sample", "uint16 little-endian"},
                               {"publish_time", "sensor timestamp in ms times 1e6"}});
    }
    int result = writer.write(format.channel, slot.sequence, slot.logTime,
                              slot.timestamp * 1000000u, slot.raw.data(), slot.raw.size());
    if (result == 0 && slot.hasPlanes) {
        const ros2::Header header = ros2::headerAt(slot.logTime, recording::kDepthFrameId);
        // Depth leaves the device in millimetres; ROS images carry metres.
        for (float& value : slot.depth) value = value / 1000.0f;
        const uint32_t step = planeWidth * 4u;
        ros2::encodeImage(header, planeHeight, planeWidth, "32FC1", step,
                          reinterpret_cast<const uint8_t*>(slot.depth.data()), encoded);
        result = writer.write(depthChannel, depthSequence, slot.logTime, slot.logTime,
                              encoded.data(), encoded.size());
        if (result == 0) {
            ros2::encodeImage(header, planeHeight, planeWidth, "32FC1", step,
                              reinterpret_cast<const uint8_t*>(slot.amplitude.data()), encoded);
            result = writer.write(amplitudeChannel, depthSequence, slot.logTime, slot.logTime,
                                  encoded.data(), encoded.size());
        }
        if (result == 0) {
            ros2::encodeCameraInfo(header, cameraModel, encoded);
            result = writer.write(infoChannel, depthSequence, slot.logTime, slot.logTime,
                                  encoded.data(), encoded.size());
        }
        ++depthSequence;
    }
    if (result != 0) {
        failed.store(true);
        dropped.fetch_add(1);
        return;
    }
    if (recorded.fetch_add(1) == 0) firstTime.store(slot.logTime);
    lastTime.store(slot.logTime);
    bytes.store(writer.bytesWritten());
}

}  // namespace Quarvel
