// A thin overlay on a kernel that presents a test driver's node as the camera's.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sensor/SystemCalls.h"

namespace Quarvel {
namespace contract {

// Passes every call to `kernel` unchanged except two, so that the CSI transport's Jetson
// discovery accepts a test driver's capture node:
// - the sysfs name of the node `major`:`minor` reads "<driver name>, quarvel <bus>-000c";
// - I2C_FUNCS adds I2C_FUNC_I2C (i2c-stub offers SMBus only).
// Every video ioctl, mapping and timestamp stays the driver's. It also keeps a copy of each
// buffer as DQBUF hands it out, read straight from the overlay's own mapping of it, so a test
// can compare what the transport delivered with what the driver wrote.
//
// Thread contract: thread-safe, like the kernel below it.
class PresentedNodeSystemCalls final : public SystemCalls {
public:
    PresentedNodeSystemCalls(SystemCalls& kernel, unsigned major, unsigned minor, int bus);
    ~PresentedNodeSystemCalls() override;

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(void* address, size_t length, int protection, int flags, int fd,
               off_t offset) override;
    int munmap(void* address, size_t length) override;
    int fstat(int fd, struct stat* status) override;
    int listDirectory(const char* path, std::vector<std::string>* names) override;
    ssize_t readlink(const char* path, char* target, size_t size) override;
    int readLines(const char* path, size_t lineCapacity, size_t maxLines,
                  std::vector<std::string>* lines) override;

    // The bytes of the last buffer dequeued (its full length), and its timestamp.
    std::vector<uint8_t> lastDequeued() const;
    int64_t lastTimestampMicroseconds() const;
    int dequeuedCount() const;
    // The bytes of a recently dequeued buffer (one of the last kKeptBuffers) whose timestamp
    // falls in millisecond `milliseconds`; empty when none does.
    std::vector<uint8_t> dequeuedAt(uint64_t milliseconds) const;
    static constexpr size_t kKeptBuffers = 32;

private:
    struct Mapping {
        int fd;
        off_t offset;
        size_t length;
    };

    SystemCalls& kernel;
    const std::string namePath;
    const int bus;
    mutable std::mutex recordMutex;  // guards every member below
    std::map<void*, Mapping> mappings;
    std::vector<uint8_t> dequeued;
    int64_t dequeuedStamp = 0;
    std::map<int64_t, std::vector<uint8_t>> recent;  // by timestamp in microseconds
    int dequeues = 0;
};

}  // namespace contract
}  // namespace Quarvel
