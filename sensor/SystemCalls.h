// The one seam between the sensor layer and the operating system.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace Quarvel {

// Every system call the CSI transport, the I2C functions, the bus lookup and the board
// probe make goes through this interface, so that the same code runs over the real kernel
// or over a simulated one. Each operation behaves like the system call it is named after:
// it returns what the call returns and reports failures through errno.
//
// Thread contract: implementations are safe to call from several threads at once (the
// capture thread dequeues buffers while the caller's thread sets controls).
class SystemCalls {
public:
    virtual ~SystemCalls();

    // open(2) without a mode: the seam never creates files.
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* mmap(void* address, size_t length, int protection, int flags, int fd,
                       off_t offset) = 0;
    virtual int munmap(void* address, size_t length) = 0;
    virtual int fstat(int fd, struct stat* status) = 0;
    // The names of a directory's entries in the order the directory hands them out,
    // "." and ".." included. 0, or -1 with errno when the directory cannot be read.
    virtual int listDirectory(const char* path, std::vector<std::string>* names) = 0;
    virtual ssize_t readlink(const char* path, char* target, size_t size) = 0;
    // Reads a text file the way fgets does with a buffer of `lineCapacity` bytes: each
    // piece ends after a newline or after lineCapacity - 1 characters, at most `maxLines`
    // pieces. 0 (possibly with no piece when nothing could be read), or -1 with errno when
    // the file cannot be opened.
    virtual int readLines(const char* path, size_t lineCapacity, size_t maxLines,
                          std::vector<std::string>* lines) = 0;
    // stat(2) of a path: its kind, device number, owner group and mode. Only diagnostics use
    // it (the owner group of a node that refuses to open); by default the real call.
    virtual int statPath(const char* path, struct stat* status);
};

// The real system calls, with nothing added. Lives as long as the process.
SystemCalls& productionSystemCalls();

// ioctl with the transport's retry rule: up to 5 attempts, repeated with the same argument
// only after EINTR, EAGAIN or ETIMEDOUT. Returns the last attempt's result, errno intact.
int retryingIoctl(SystemCalls& system, int fd, unsigned long request, void* argument);

}  // namespace Quarvel
