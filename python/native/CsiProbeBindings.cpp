// The CSI discovery and open path as data, for `quarvel list` and `quarvel doctor`: the real
// transport opens the camera over the process's system (the simulated one under
// QUARVEL_SIMULATED_BOARD) while every system call it makes is recorded with its result.
#include <linux/i2c-dev.h>
#include <linux/media.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/BoardModelProbe.h"
#include "core/ComponentFactory.h"
#include "python/native/NativeRegistration.h"
#include "sensor/SystemCalls.h"

namespace py = pybind11;

namespace Quarvel {
namespace native {

namespace {

// The requests the transport makes, by name; others are shown as hexadecimal numbers.
std::string requestName(unsigned long request) {
    static const std::map<unsigned long, const char*> names = {
        {VIDIOC_QUERYCAP, "VIDIOC_QUERYCAP"},
        {VIDIOC_S_INPUT, "VIDIOC_S_INPUT"},
        {VIDIOC_G_FMT, "VIDIOC_G_FMT"},
        {VIDIOC_S_FMT, "VIDIOC_S_FMT"},
        {VIDIOC_REQBUFS, "VIDIOC_REQBUFS"},
        {VIDIOC_QUERYBUF, "VIDIOC_QUERYBUF"},
        {VIDIOC_QBUF, "VIDIOC_QBUF"},
        {VIDIOC_DQBUF, "VIDIOC_DQBUF"},
        {VIDIOC_STREAMON, "VIDIOC_STREAMON"},
        {VIDIOC_STREAMOFF, "VIDIOC_STREAMOFF"},
        {VIDIOC_S_CTRL, "VIDIOC_S_CTRL"},
        {VIDIOC_G_CTRL, "VIDIOC_G_CTRL"},
        {VIDIOC_SUBDEV_G_FMT, "VIDIOC_SUBDEV_G_FMT"},
        {VIDIOC_SUBDEV_S_FMT, "VIDIOC_SUBDEV_S_FMT"},
        {MEDIA_IOC_ENUM_ENTITIES, "MEDIA_IOC_ENUM_ENTITIES"},
        {MEDIA_IOC_SETUP_LINK, "MEDIA_IOC_SETUP_LINK"},
        {I2C_FUNCS, "I2C_FUNCS"},
        {I2C_SLAVE, "I2C_SLAVE"},
        {I2C_SLAVE_FORCE, "I2C_SLAVE_FORCE"},
        {I2C_RDWR, "I2C_RDWR"},
        {I2C_TIMEOUT, "I2C_TIMEOUT"},
        {I2C_RETRIES, "I2C_RETRIES"},
    };
    auto found = names.find(request);
    if (found != names.end()) return found->second;
    char text[24];
    std::snprintf(text, sizeof text, "0x%lx", request);
    return text;
}

struct TracedCall {
    std::string call;
    std::string request;  // ioctl only
    std::string path;     // the path named, or the path the descriptor was opened with
    long result;
    int error;  // errno of a failed call, else 0
    std::string detail;  // what an enumerated media entity was called
};

// Forwards every call to `inner` and records it.
class TracingSystemCalls final : public SystemCalls {
public:
    explicit TracingSystemCalls(SystemCalls& inner) : inner(inner) {}

    int open(const char* path, int flags) override {
        const int fd = inner.open(path, flags);
        record("open", "", path, fd);
        if (fd >= 0) paths[fd] = path;
        return fd;
    }
    int close(int fd) override { return static_cast<int>(record("close", "", pathOf(fd), inner.close(fd))); }
    int ioctl(int fd, unsigned long request, void* argument) override {
        const int result = inner.ioctl(fd, request, argument);
        const int error = errno;
        record("ioctl", requestName(request), pathOf(fd), result);
        if (result >= 0 && request == MEDIA_IOC_ENUM_ENTITIES) {
            const auto* entity = static_cast<const media_entity_desc*>(argument);
            calls.back().detail.assign(entity->name, strnlen(entity->name, sizeof entity->name));
        }
        errno = error;
        return result;
    }
    void* mmap(void* address, size_t length, int protection, int flags, int fd,
               off_t offset) override {
        void* result = inner.mmap(address, length, protection, flags, fd, offset);
        record("mmap", "", pathOf(fd), result == MAP_FAILED ? -1 : 0);
        return result;
    }
    int munmap(void* address, size_t length) override {
        return static_cast<int>(record("munmap", "", "", inner.munmap(address, length)));
    }
    int fstat(int fd, struct stat* status) override {
        return static_cast<int>(record("fstat", "", pathOf(fd), inner.fstat(fd, status)));
    }
    int listDirectory(const char* path, std::vector<std::string>* names) override {
        return static_cast<int>(record("listDirectory", "", path, inner.listDirectory(path, names)));
    }
    ssize_t readlink(const char* path, char* target, size_t size) override {
        return record("readlink", "", path, inner.readlink(path, target, size));
    }
    int readLines(const char* path, size_t lineCapacity, size_t maxLines,
                  std::vector<std::string>* lines) override {
        return static_cast<int>(
            record("readLines", "", path, inner.readLines(path, lineCapacity, maxLines, lines)));
    }
    int statPath(const char* path, struct stat* status) override {
        return static_cast<int>(record("stat", "", path, inner.statPath(path, status)));
    }

    std::vector<TracedCall> calls;

private:
    long record(const char* call, const std::string& request, const std::string& path,
                long result) {
        const int error = errno;
        calls.push_back({call, request, path, result, result < 0 ? error : 0, {}});
        errno = error;  // the caller reads errno after us
        return result;
    }
    std::string pathOf(int fd) const {
        auto found = paths.find(fd);
        return found == paths.end() ? std::string() : found->second;
    }

    SystemCalls& inner;
    std::map<int, std::string> paths;
};

py::dict callToDict(const TracedCall& call) {
    py::dict entry;
    entry["call"] = call.call;
    entry["request"] = call.request;
    entry["path"] = call.path;
    entry["result"] = call.result;
    entry["errno"] = call.error;
    entry["detail"] = call.detail;
    return entry;
}

SystemCalls& processSystem() { return componentsForThisProcess().systemCalls(); }

// Opens the CSI camera at /dev/video<index> the way the camera does, and (when `start` and the
// open succeeded) starts and stops its stream; the record of what happened.
py::dict traceCsiOpen(int index, bool start) {
    TracingSystemCalls tracer(processSystem());
    std::vector<std::string> modelLines;
    tracer.readLines(kDeviceTreeModelPath, 256, 1, &modelLines);
    std::string modelText = modelLines.empty() ? std::string() : modelLines.front();
    const size_t end = modelText.find('\0');
    if (end != std::string::npos) modelText.resize(end);
    const BoardModel board = probeBoardModel(tracer);

    char devicePath[80];
    std::snprintf(devicePath, sizeof devicePath, "/dev/video%d", index);
    std::unique_ptr<QuarvelTOFSensor> sensor = createCsiSensor(devicePath, board, tracer);
    CameraInfo info{};
    const int openStatus = sensor->open(info);
    const size_t openCalls = tracer.calls.size();
    py::object startStatus = py::none();
    if (openStatus == 0 && start) {
        const int started = sensor->start();
        startStatus = py::int_(started);
        if (started == 0) sensor->stop();
    }
    const CameraInfo found = sensor->getCameraInfo();
    sensor->close();

    py::dict result;
    result["model_text"] = modelText;
    result["board_model"] = static_cast<int>(board);
    result["device_path"] = std::string(devicePath);
    result["open_status"] = openStatus;
    result["start_status"] = startStatus;
    result["width"] = found.width;
    result["height"] = found.height;
    result["bit_width"] = found.bit_width;
    py::list calls;
    for (const TracedCall& call : tracer.calls) calls.append(callToDict(call));
    result["calls"] = calls;
    result["open_call_count"] = openCalls;
    return result;
}

// stat of a path through the process's system: (mode, gid, major, minor), or -errno.
py::object statPath(const std::string& path) {
    struct stat status {};
    if (processSystem().statPath(path.c_str(), &status) != 0) return py::int_(-errno);
    return py::make_tuple(static_cast<unsigned>(status.st_mode),
                          static_cast<unsigned>(status.st_gid), major(status.st_rdev),
                          minor(status.st_rdev));
}

// The lines of a text file through the process's system, or -errno.
py::object readLines(const std::string& path, size_t maxLines) {
    std::vector<std::string> lines;
    if (processSystem().readLines(path.c_str(), 4096, maxLines, &lines) != 0) {
        return py::int_(-errno);
    }
    return py::cast(lines);
}

// The entries of a directory (without "." and "..") through the process's system, or -errno.
py::object listDirectory(const std::string& path) {
    std::vector<std::string> names;
    if (processSystem().listDirectory(path.c_str(), &names) != 0) return py::int_(-errno);
    std::vector<std::string> entries;
    for (const std::string& name : names) {
        if (name != "." && name != "..") entries.push_back(name);
    }
    return py::cast(entries);
}

}  // namespace

void registerCsiProbe(py::module_& module) {
    module.def("trace_csi_open", &traceCsiOpen, py::arg("index"), py::arg("start") = true,
               "Opens the CSI camera /dev/video<index> as the camera does (and starts and stops "
               "its stream when `start`), recording every system call; a dict of the outcome.");
    module.def(
        "board_model", []() { return static_cast<int>(probeBoardModel(processSystem())); },
        "The board model code the camera's device-tree probe finds on this system.");
    module.def("system_stat", &statPath, py::arg("path"),
               "(mode, gid, major, minor) of a path on this system (simulated or real), or "
               "-errno.");
    module.def("system_read_lines", &readLines, py::arg("path"), py::arg("max_lines") = 256,
               "The lines of a text file on this system (simulated or real), or -errno.");
    module.def("system_list_directory", &listDirectory, py::arg("path"),
               "The entries of a directory on this system (simulated or real), or -errno.");
}

}  // namespace native
}  // namespace Quarvel
