// The file system calls the configuration writer makes, behind one interface.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace Quarvel {

// Each operation behaves like the system call it is named after: it returns what the
// call returns and reports failures through errno. Production uses the real calls; tests
// put faults in the write path (a full disk, an I/O error at close, a read-only
// directory) that a real directory cannot show to a test running as root.
class FileWriteCalls {
public:
    virtual ~FileWriteCalls();
    // open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode): never opens
    // an existing name, never follows a link.
    virtual int createExclusive(const char* path, mode_t mode) = 0;
    virtual ssize_t write(int fd, const void* bytes, size_t size) = 0;
    virtual int close(int fd) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    virtual int unlink(const char* path) = 0;
};

// The real calls. Lives as long as the process; thread-safe.
FileWriteCalls& productionFileWriteCalls();

}  // namespace Quarvel
