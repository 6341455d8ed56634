// The production seam: the real system calls, and the retry rule of the transport.
#include "sensor/SystemCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace Quarvel {

SystemCalls::~SystemCalls() = default;

int SystemCalls::statPath(const char* path, struct stat* status) { return ::stat(path, status); }

namespace {

class RealSystemCalls final : public SystemCalls {
public:
    int open(const char* path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void* argument) override {
        return ::ioctl(fd, request, argument);
    }
    void* mmap(void* address, size_t length, int protection, int flags, int fd,
               off_t offset) override {
        return ::mmap(address, length, protection, flags, fd, offset);
    }
    int munmap(void* address, size_t length) override { return ::munmap(address, length); }
    int fstat(int fd, struct stat* status) override { return ::fstat(fd, status); }

    int listDirectory(const char* path, std::vector<std::string>* names) override {
        std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(path), ::closedir);
        if (!directory) return -1;
        names->clear();
        errno = 0;
        while (const dirent* entry = ::readdir(directory.get())) names->emplace_back(entry->d_name);
        return errno == 0 ? 0 : -1;
    }

    ssize_t readlink(const char* path, char* target, size_t size) override {
        return ::readlink(path, target, size);
    }

    int readLines(const char* path, size_t lineCapacity, size_t maxLines,
                  std::vector<std::string>* lines) override {
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "r"), std::fclose);
        if (!file) return -1;
        lines->clear();
        std::vector<char> buffer(lineCapacity < 2 ? 2 : lineCapacity);
        while (lines->size() < maxLines &&
               std::fgets(buffer.data(), static_cast<int>(buffer.size()), file.get())) {
            lines->emplace_back(buffer.data(), strnlen(buffer.data(), buffer.size()));
        }
        return 0;
    }
};

}  // namespace

SystemCalls& productionSystemCalls() {
    static RealSystemCalls system;
    return system;
}

int retryingIoctl(SystemCalls& system, int fd, unsigned long request, void* argument) {
    constexpr int kAttempts = 5;
    int result = -1;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        result = system.ioctl(fd, request, argument);
        if (result >= 0) return result;
        if (errno != EINTR && errno != EAGAIN && errno != ETIMEDOUT) return result;
    }
    return result;
}

}  // namespace Quarvel
