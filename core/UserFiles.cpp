// Path checks and bounded, non-blocking whole-file reads for user-named files.
#include "core/UserFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace Quarvel {

namespace {

UserPathStatus checkLength(const char* path) {
    if (path == nullptr || path[0] == '\0') return UserPathStatus::Empty;
    // strnlen: a path without a terminator in reach is not scanned past the limit.
    if (::strnlen(path, kMaxUserPathBytes + 1) > kMaxUserPathBytes) {
        return UserPathStatus::TooLong;
    }
    return UserPathStatus::Ok;
}

UserPathStatus statusOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return UserPathStatus::Missing;
        case ENAMETOOLONG:
            return UserPathStatus::TooLong;
        default:
            return UserPathStatus::Unreadable;
    }
}

UserPathStatus statPath(const char* path, struct stat& status) {
    const UserPathStatus length = checkLength(path);
    if (length != UserPathStatus::Ok) return length;
    if (::stat(path, &status) != 0) return statusOfErrno(errno);
    return UserPathStatus::Ok;
}

// Closes the descriptor it holds.
class ReadDescriptor {
public:
    explicit ReadDescriptor(int descriptor) : fd(descriptor) {}
    ~ReadDescriptor() {
        if (fd >= 0) ::close(fd);
    }
    ReadDescriptor(const ReadDescriptor&) = delete;
    ReadDescriptor& operator=(const ReadDescriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

}  // namespace

const char* describe(UserPathStatus status) {
    switch (status) {
        case UserPathStatus::Ok:
            return "ok";
        case UserPathStatus::Empty:
            return "empty path";
        case UserPathStatus::TooLong:
            return "path too long";
        case UserPathStatus::Missing:
            return "no such file or directory";
        case UserPathStatus::NotRegularFile:
            return "not a regular file";
        case UserPathStatus::NotDirectory:
            return "not a directory";
        case UserPathStatus::TooLarge:
            return "file too large";
        case UserPathStatus::Unreadable:
            return "cannot be read";
    }
    return "cannot be read";
}

UserPathStatus checkUserDirectory(const char* path) {
    struct stat status;
    const UserPathStatus result = statPath(path, status);
    if (result != UserPathStatus::Ok) return result;
    return S_ISDIR(status.st_mode) ? UserPathStatus::Ok : UserPathStatus::NotDirectory;
}

UserPathStatus checkUserFile(const char* path) {
    struct stat status;
    const UserPathStatus result = statPath(path, status);
    if (result != UserPathStatus::Ok) return result;
    return S_ISREG(status.st_mode) ? UserPathStatus::Ok : UserPathStatus::NotRegularFile;
}

UserPathStatus readUserFile(const char* path, size_t maxBytes, std::string& content,
                            struct stat* identity) {
    content.clear();
    // A device is refused before it is opened: opening some has effects of its own.
    const UserPathStatus named = checkUserFile(path);
    if (named != UserPathStatus::Ok) return named;
    // O_NONBLOCK: opening a FIFO without a writer or a modem line must not wait;
    // O_NOCTTY: a terminal named by mistake does not become ours.
    int descriptor;
    do {
        descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        return errno == EISDIR ? UserPathStatus::NotRegularFile : statusOfErrno(errno);
    }
    ReadDescriptor file(descriptor);
    struct stat status;
    if (::fstat(file.get(), &status) != 0) return UserPathStatus::Unreadable;
    if (!S_ISREG(status.st_mode)) return UserPathStatus::NotRegularFile;
    if (status.st_size < 0) return UserPathStatus::Unreadable;
    const auto size = static_cast<unsigned long long>(status.st_size);
    if (size > maxBytes) return UserPathStatus::TooLarge;
    std::string bytes(static_cast<size_t>(size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            ::pread(file.get(), &bytes[done], bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return UserPathStatus::Unreadable;  // error, or the file shrank
        done += static_cast<size_t>(got);
    }
    content = std::move(bytes);
    if (identity) *identity = status;
    return UserPathStatus::Ok;
}

}  // namespace Quarvel
