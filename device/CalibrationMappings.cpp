// Read-only shared mappings of "cali.bin" with their descriptors, released together.
#include "device/CalibrationMappings.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace Quarvel {

struct CalibrationMappings::Mapping {
    int descriptor = -1;
    void* address = MAP_FAILED;
    size_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
    struct timespec modified = {0, 0};

    bool sameFile(const struct stat& status) const {
        return status.st_dev == device && status.st_ino == inode &&
               static_cast<uint64_t>(status.st_size) == size &&
               status.st_mtim.tv_sec == modified.tv_sec &&
               status.st_mtim.tv_nsec == modified.tv_nsec;
    }
};

void CalibrationMappings::MappingDeleter::operator()(Mapping* mapping) const {
    if (mapping->address != MAP_FAILED) ::munmap(mapping->address, mapping->size);
    if (mapping->descriptor >= 0) ::close(mapping->descriptor);
    delete mapping;
}

namespace {

// Closes a descriptor unless it was handed on.
class ScopedDescriptor {
public:
    explicit ScopedDescriptor(int descriptor) : fd(descriptor) {}
    ~ScopedDescriptor() {
        if (fd >= 0) ::close(fd);
    }
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
    int get() const { return fd; }
    [[nodiscard]] int release() {
        const int released = fd;
        fd = -1;
        return released;
    }

private:
    int fd;
};

int openReadOnly(const char* path) {
    int descriptor;
    do {
        descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

}  // namespace

CalibrationMappings::View CalibrationMappings::map(const char* path) {
    ScopedDescriptor file(openReadOnly(path));
    if (file.get() < 0) return {};
    struct stat status;
    if (::fstat(file.get(), &status) != 0 || status.st_size <= 0) return {};
    if (static_cast<uint64_t>(status.st_size) > SIZE_MAX) return {};
    if (!mappings.empty() && mappings.back()->sameFile(status)) {
        return {mappings.back()->address, mappings.back()->size};
    }
    std::unique_ptr<Mapping, MappingDeleter> mapping(new Mapping);
    mapping->size = static_cast<size_t>(status.st_size);
    mapping->address = ::mmap(nullptr, mapping->size, PROT_READ, MAP_SHARED, file.get(), 0);
    if (mapping->address == MAP_FAILED) return {};
    mapping->descriptor = file.release();
    mapping->device = status.st_dev;
    mapping->inode = status.st_ino;
    mapping->modified = status.st_mtim;
    const View view{mapping->address, mapping->size};
    mappings.push_back(std::move(mapping));
    return view;
}

void CalibrationMappings::releaseAll() { mappings.clear(); }

}  // namespace Quarvel
