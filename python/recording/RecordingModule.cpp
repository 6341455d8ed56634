// quarvel._recording: record a camera to MCAP and play a recording back as a camera.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "core/QuarvelTOFCamera.h"
#include "recording/Playback.h"
#include "recording/Recorder.h"

namespace py = pybind11;
using namespace Quarvel;

namespace {

// Waits are cut into slices so that Ctrl-C ends them (the handler's exception propagates).
constexpr int16_t kSliceMs = 100;

mcap::Compression compressionNamed(const std::string& name) {
    if (name == "zstd") return mcap::Compression::ZSTD;
    if (name == "lz4") return mcap::Compression::LZ4;
    if (name == "none") return mcap::Compression::NONE;
    if (name.empty()) return mcap::defaultCompression();
    throw py::value_error("compression must be zstd, lz4 or none, not '" + name + "'");
}

// The oldest ready frame within `timeoutMs` (negative: no limit), or null; the interpreter
// lock is released while waiting and signals are handled between slices.
QuarvelFrameBuffer* waitFrame(QuarvelTOFCamera& camera, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        QuarvelFrameBuffer* frame;
        {
            py::gil_scoped_release unlocked;
            frame = camera.requestFrame(kSliceMs);
        }
        if (frame) return frame;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return nullptr;
    }
}

py::array_t<float> planeCopy(QuarvelFrameBuffer* frame, FrameType plane) {
    FrameDataFormat format{};
    frame->getFormat(FrameType::DEPTH, format);
    py::array_t<float> array(
        {static_cast<py::ssize_t>(format.height), static_cast<py::ssize_t>(format.width)});
    std::memcpy(array.mutable_data(), frame->getData(plane),
                static_cast<size_t>(format.width) * format.height * sizeof(float));
    return array;
}

py::dict statsDict(const RecorderStats& stats, uint64_t delivered) {
    py::dict d;
    d["frames"] = stats.framesRecorded;
    d["drops"] = stats.framesDropped;
    d["megabytes"] = static_cast<double>(stats.bytesWritten) / 1e6;
    d["seconds"] = stats.seconds;
    d["camera_frames"] = delivered;
    d["write_failed"] = stats.writeFailed;
    return d;
}

// Records depth frames of a camera until `frames` were delivered or `seconds` passed (0:
// no limit, until Ctrl-C). `progress(stats)` is called about twice a second.
py::dict record(const std::string& path, const std::string& connect, int index,
                const std::string& config, uint64_t frames, double seconds,
                const std::string& compression, size_t queueFrames, int timeoutMs,
                py::object progress) {
    RecorderOptions options;
    options.writer.compression = compressionNamed(compression);
    options.queueFrames = queueFrames;
    Recorder recorder;
    if (recorder.open(path, options) != 0) throw std::runtime_error(recorder.error());
    auto components = recordingComponents(defaultComponents(), recorder);
    uint64_t delivered = 0;
    {
        QuarvelTOFCamera camera(*components);
        int status;
        if (!config.empty()) {
            status = camera.openWithFile(config.c_str(), index);
        } else if (connect == "csi") {
            status = camera.open(Connection::CSI, index);
        } else if (connect == "usb") {
            status = camera.open(Connection::USB, index);
        } else {
            throw py::value_error("connect must be csi or usb, not '" + connect + "'");
        }
        if (status != 0)
            throw std::runtime_error("open failed with status " + std::to_string(status));
        status = camera.start(FrameType::DEPTH);
        if (status != 0)
            throw std::runtime_error("start failed with status " + std::to_string(status));
        const auto begin = std::chrono::steady_clock::now();
        auto lastReport = begin;
        for (;;) {
            const auto now = std::chrono::steady_clock::now();
            const double elapsed = std::chrono::duration<double>(now - begin).count();
            if ((frames > 0 && delivered >= frames) || (seconds > 0 && elapsed >= seconds)) break;
            QuarvelFrameBuffer* frame = waitFrame(camera, timeoutMs);
            if (frame == nullptr) {
                throw std::runtime_error("no frame within " + std::to_string(timeoutMs) + " ms");
            }
            camera.releaseFrame(frame);
            ++delivered;
            if (!progress.is_none() && now - lastReport >= std::chrono::milliseconds(500)) {
                lastReport = now;
                progress(statsDict(recorder.stats(), delivered));
            }
        }
        camera.stop();
        camera.close();
    }
    const int closed = recorder.close();
    py::dict result = statsDict(recorder.stats(), delivered);
    if (closed != 0) throw std::runtime_error("recording failed: " + recorder.error());
    if (!progress.is_none()) progress(result);
    return result;
}

// A recording opened as a camera streaming depth.
class Player {
public:
    Player(const std::string& path, bool paced, bool loop)
        : components(path, PlaybackOptions{paced, loop}), camera(components) {
        const int status = camera.open(Connection::USB, 0);
        if (status != 0) throw std::runtime_error(path + ": " + components.report()->error());
        if (camera.start(FrameType::DEPTH) != 0) {
            throw std::runtime_error(path + ": the recording cannot be started");
        }
    }
    // The next depth frame's planes as a dict, or None at the end of the recording (or timeout).
    py::object next(int timeoutMs) {
        const auto report = components.report();
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            QuarvelFrameBuffer* frame = waitFrame(camera, kSliceMs);
            if (frame) {
                FrameDataFormat format{};
                frame->getFormat(FrameType::DEPTH, format);
                py::dict d;
                d["timestamp"] = format.timestamp;
                d["depth"] = planeCopy(frame, FrameType::DEPTH);
                d["amplitude"] = planeCopy(frame, FrameType::AMPLITUDE);
                d["confidence"] = planeCopy(frame, FrameType::CONFIDENCE);
                camera.releaseFrame(frame);
                return py::object(std::move(d));
            }
            if (report->finished.load()) return py::none();
            if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return py::none();
        }
    }
    py::dict report() const {
        const auto r = components.report();
        py::dict d;
        d["frames_played"] = r->framesPlayed.load();
        d["frames_lost"] = r->framesLost.load();
        d["truncated"] = r->truncated.load();
        d["finished"] = r->finished.load();
        d["error"] = r->error();
        return d;
    }
    py::dict info() const {
        const CameraInfo i = camera.getCameraInfo();
        py::dict d;
        d["width"] = i.width;
        d["height"] = i.height;
        d["device_type"] = i.device_type == HQVGA ? "HQVGA" : "VGA";
        return d;
    }
    void close() {
        if (closed) return;
        closed = true;
        camera.stop();
        camera.close();
    }
    ~Player() {
        if (!closed) {
            camera.stop();
            camera.close();
        }
    }

private:
    PlaybackComponents components;
    QuarvelTOFCamera camera;
    bool closed = false;
};

}  // namespace

PYBIND11_MODULE(_recording, m) {
    m.doc() = "Recording a camera to MCAP and playing recordings back (native part).";
    m.def("record", &record, py::arg("path"), py::arg("connect") = "usb", py::arg("index") = 0,
          py::arg("config") = "", py::arg("frames") = 0, py::arg("seconds") = 0.0,
          py::arg("compression") = "", py::arg("queue_frames") = 8, py::arg("timeout_ms") = 5000,
          py::arg("progress") = py::none());
    py::class_<Player>(m, "Player")
        .def(py::init<const std::string&, bool, bool>(), py::arg("path"), py::arg("paced") = true,
             py::arg("loop") = false)
        .def("next", &Player::next, py::arg("timeout_ms") = 5000)
        .def("report", &Player::report)
        .def("info", &Player::info)
        .def("close", &Player::close);
}
