// Standard error captured in a memory file, reused across fuzz iterations.
#include "fuzz/support/StderrCapture.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace Quarvel {
namespace fuzz {

namespace {

// Kept above the standard descriptors, so that it is never descriptor 2 itself.
int memoryFile() {
    static const int fd = [] {
        const int created = memfd_create("fuzz-stderr", MFD_CLOEXEC);
        if (created < 0) std::abort();
        const int moved = fcntl(created, F_DUPFD_CLOEXEC, 10);
        close(created);
        if (moved < 0) std::abort();
        return moved;
    }();
    return fd;
}

}  // namespace

std::string capturedStderr(const std::function<void()>& action) {
    const int capture = memoryFile();
    if (ftruncate(capture, 0) != 0 || lseek(capture, 0, SEEK_SET) != 0) std::abort();
    std::fflush(stderr);
    const int saved = fcntl(2, F_DUPFD_CLOEXEC, 10);  // -1 when descriptor 2 is closed
    if (dup2(capture, 2) < 0) std::abort();
    action();
    std::fflush(stderr);
    if (saved >= 0) {
        dup2(saved, 2);
        close(saved);
    } else {
        close(2);
    }
    std::string text;
    char chunk[4096];
    if (lseek(capture, 0, SEEK_SET) != 0) std::abort();
    for (ssize_t got; (got = read(capture, chunk, sizeof chunk)) > 0;) text.append(chunk, got);
    return text;
}

}  // namespace fuzz
}  // namespace Quarvel
