// The overlay that presents a test driver's capture node under the camera's name.
#include "tests/contract/PresentedNodeSystemCalls.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

namespace Quarvel {
namespace contract {

PresentedNodeSystemCalls::PresentedNodeSystemCalls(SystemCalls& kernel, unsigned major,
                                                   unsigned minor, int bus)
    : kernel(kernel),
      namePath("/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor) + "/name"),
      bus(bus) {}

PresentedNodeSystemCalls::~PresentedNodeSystemCalls() = default;

int PresentedNodeSystemCalls::open(const char* path, int flags) { return kernel.open(path, flags); }
int PresentedNodeSystemCalls::close(int fd) { return kernel.close(fd); }

int PresentedNodeSystemCalls::ioctl(int fd, unsigned long request, void* argument) {
    const int result = kernel.ioctl(fd, request, argument);
    if (result < 0) return result;
    if (request == I2C_FUNCS) *static_cast<unsigned long*>(argument) |= I2C_FUNC_I2C;
    if (request != VIDIOC_DQBUF) return result;

    const int savedErrno = errno;
    const auto* description = static_cast<const v4l2_buffer*>(argument);
    const bool multiPlanar = description->type == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    const off_t offset =
        multiPlanar ? description->m.planes[0].m.mem_offset : description->m.offset;
    const size_t length = multiPlanar ? description->m.planes[0].length : description->length;
    std::lock_guard<std::mutex> lock(recordMutex);
    ++dequeues;
    dequeued.clear();
    dequeuedStamp = static_cast<int64_t>(description->timestamp.tv_sec) * 1000000 +
                    description->timestamp.tv_usec;
    for (const auto& [address, mapping] : mappings) {
        if (mapping.fd == fd && mapping.offset == offset) {
            const size_t count = std::min(length, mapping.length);
            const auto* bytes = static_cast<const uint8_t*>(address);
            dequeued.assign(bytes, bytes + count);
            break;
        }
    }
    recent[dequeuedStamp] = dequeued;
    if (recent.size() > kKeptBuffers) recent.erase(recent.begin());
    errno = savedErrno;
    return result;
}

void* PresentedNodeSystemCalls::mmap(void* address, size_t length, int protection, int flags,
                                     int fd, off_t offset) {
    void* mapped = kernel.mmap(address, length, protection, flags, fd, offset);
    if (mapped != MAP_FAILED) {
        std::lock_guard<std::mutex> lock(recordMutex);
        mappings[mapped] = {fd, offset, length};
    }
    return mapped;
}

int PresentedNodeSystemCalls::munmap(void* address, size_t length) {
    const int result = kernel.munmap(address, length);
    if (result == 0) {
        std::lock_guard<std::mutex> lock(recordMutex);
        mappings.erase(address);
    }
    return result;
}

int PresentedNodeSystemCalls::fstat(int fd, struct stat* status) {
    return kernel.fstat(fd, status);
}

int PresentedNodeSystemCalls::listDirectory(const char* path, std::vector<std::string>* names) {
    return kernel.listDirectory(path, names);
}

ssize_t PresentedNodeSystemCalls::readlink(const char* path, char* target, size_t size) {
    return kernel.readlink(path, target, size);
}

int PresentedNodeSystemCalls::readLines(const char* path, size_t lineCapacity, size_t maxLines,
                                        std::vector<std::string>* lines) {
    if (namePath != path) return kernel.readLines(path, lineCapacity, maxLines, lines);
    std::vector<std::string> real;
    if (kernel.readLines(path, lineCapacity, maxLines, &real) != 0) return -1;
    std::string name = real.empty() ? std::string() : real.front();
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    lines->assign(1, name + ", quarvel " + std::to_string(bus) + "-000c\n");
    return 0;
}

std::vector<uint8_t> PresentedNodeSystemCalls::lastDequeued() const {
    std::lock_guard<std::mutex> lock(recordMutex);
    return dequeued;
}

int64_t PresentedNodeSystemCalls::lastTimestampMicroseconds() const {
    std::lock_guard<std::mutex> lock(recordMutex);
    return dequeuedStamp;
}

std::vector<uint8_t> PresentedNodeSystemCalls::dequeuedAt(uint64_t milliseconds) const {
    std::lock_guard<std::mutex> lock(recordMutex);
    const int64_t from = static_cast<int64_t>(milliseconds) * 1000;
    auto found = recent.lower_bound(from);
    if (found == recent.end() || found->first >= from + 1000) return {};
    return found->second;
}

int PresentedNodeSystemCalls::dequeuedCount() const {
    std::lock_guard<std::mutex> lock(recordMutex);
    return dequeues;
}

}  // namespace contract
}  // namespace Quarvel
