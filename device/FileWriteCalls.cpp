// The real file system calls of the configuration writer.
#include "device/FileWriteCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace Quarvel {

FileWriteCalls::~FileWriteCalls() = default;

namespace {

class RealFileWriteCalls : public FileWriteCalls {
public:
    int createExclusive(const char* path, mode_t mode) override {
        return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    }
    ssize_t write(int fd, const void* bytes, size_t size) override {
        return ::write(fd, bytes, size);
    }
    int close(int fd) override { return ::close(fd); }
    int rename(const char* from, const char* to) override { return std::rename(from, to); }
    int unlink(const char* path) override { return ::unlink(path); }
};

}  // namespace

FileWriteCalls& productionFileWriteCalls() {
    static RealFileWriteCalls calls;
    return calls;
}

}  // namespace Quarvel
