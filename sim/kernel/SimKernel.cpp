// Simulated kernel: path table, descriptors, mappings, fault rules and the call trace.
#include "sim/kernel/SimKernel.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/kernel/FgetsPieces.h"

namespace Quarvel {
namespace sim {

const char* callName(Call call) {
    switch (call) {
        case Call::Open:
            return "open";
        case Call::Close:
            return "close";
        case Call::Ioctl:
            return "ioctl";
        case Call::Mmap:
            return "mmap";
        case Call::Munmap:
            return "munmap";
        case Call::Fstat:
            return "fstat";
        case Call::ListDirectory:
            return "listDirectory";
        case Call::Readlink:
            return "readlink";
        case Call::ReadLines:
            return "readLines";
        case Call::Stat:
            return "stat";
    }
    return "?";
}

namespace {

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

SimKernel::SimKernel() { nodes["/"] = Node{}; }

SimKernel::~SimKernel() = default;

int SimKernel::fail(int error) {
    errno = error;
    return -1;
}

SimKernel::Node& SimKernel::ensureNode(const std::string& path, Kind kind) {
    auto found = nodes.find(path);
    if (found != nodes.end()) {
        found->second.kind = kind;
        return found->second;
    }
    if (path != "/") {
        const std::string parent = parentOf(path);
        if (nodes.find(parent) == nodes.end()) ensureNode(parent, Kind::Directory);
        nodes[parent].children.push_back(baseName(path));
    }
    Node& node = nodes[path];
    node.kind = kind;
    return node;
}

void SimKernel::addFile(const std::string& path, const std::string& content) {
    MutexLock lock(kernelMutex);
    ensureNode(path, Kind::File).content = content;
}

void SimKernel::addDirectory(const std::string& path) {
    MutexLock lock(kernelMutex);
    ensureNode(path, Kind::Directory);
}

void SimKernel::addSymlink(const std::string& path, const std::string& target) {
    MutexLock lock(kernelMutex);
    ensureNode(path, Kind::Symlink).content = target;
}

void SimKernel::addCharDevice(const std::string& path, unsigned major, unsigned minor,
                              std::shared_ptr<SimDevice> device) {
    MutexLock lock(kernelMutex);
    Node& node = ensureNode(path, Kind::CharDevice);
    node.major = major;
    node.minor = minor;
    node.device = std::move(device);
}

void SimKernel::remove(const std::string& path) {
    MutexLock lock(kernelMutex);
    nodes.erase(path);
    auto parent = nodes.find(parentOf(path));
    if (parent != nodes.end()) {
        auto& children = parent->second.children;
        children.erase(std::remove(children.begin(), children.end(), baseName(path)),
                       children.end());
    }
}

void SimKernel::denyAccess(const std::string& path) {
    MutexLock lock(kernelMutex);
    auto found = nodes.find(path);
    if (found != nodes.end()) found->second.denied = true;
}

void SimKernel::setGroup(const std::string& path, unsigned gid) {
    MutexLock lock(kernelMutex);
    auto found = nodes.find(path);
    if (found != nodes.end()) found->second.gid = gid;
}

void SimKernel::addFault(const FaultRule& rule) {
    MutexLock lock(kernelMutex);
    faults.push_back(rule);
}

void SimKernel::failCallNumber(uint64_t number, int error) {
    MutexLock lock(kernelMutex);
    failingCall = callCounter + number;
    failingCallError = error;
}

void SimKernel::clearFaults() {
    MutexLock lock(kernelMutex);
    faults.clear();
    failingCall = UINT64_MAX;
}

int SimKernel::openDescriptorCount() const {
    MutexLock lock(kernelMutex);
    return static_cast<int>(descriptors.size());
}

std::vector<std::string> SimKernel::openDescriptorPaths() const {
    MutexLock lock(kernelMutex);
    std::vector<std::string> paths;
    for (const auto& entry : descriptors) paths.push_back(entry.second.path);
    return paths;
}

size_t SimKernel::mappingCount() const {
    MutexLock lock(kernelMutex);
    return mappings.size();
}

std::vector<CallRecord> SimKernel::trace() const {
    MutexLock lock(kernelMutex);
    return calls;
}

void SimKernel::clearTrace() {
    MutexLock lock(kernelMutex);
    calls.clear();
}

int SimKernel::enterCall(Call call, unsigned long request, const std::string& path) {
    calls.push_back({call, request, path});
    const uint64_t number = callCounter++;
    if (number == failingCall) {
        failingCall = UINT64_MAX;
        return failingCallError;
    }
    for (FaultRule& rule : faults) {
        if (rule.times <= 0 || !rule.matches(call, request, path)) continue;
        if (rule.skip > 0) {
            --rule.skip;
            continue;
        }
        --rule.times;
        return rule.error;
    }
    return 0;
}

std::string SimKernel::pathOfDescriptor(int fd) const {
    auto found = descriptors.find(fd);
    return found == descriptors.end() ? std::string() : found->second.path;
}

int SimKernel::open(const char* path, int flags) {
    MutexLock lock(kernelMutex);
    const std::string name = path ? path : "";
    if (const int error = enterCall(Call::Open, 0, name)) return fail(error);
    auto found = nodes.find(name);
    if (found == nodes.end()) return fail(ENOENT);
    const Node& node = found->second;
    if (node.denied) return fail(EACCES);
    if (node.kind == Kind::Directory && (flags & O_ACCMODE) != O_RDONLY) return fail(EISDIR);
    const int fd = nextDescriptor++;
    descriptors[fd] = OpenFile{name, node.device, (flags & O_NONBLOCK) != 0};
    return fd;
}

int SimKernel::close(int fd) {
    std::shared_ptr<SimDevice> released;
    int error = 0;
    {
        MutexLock lock(kernelMutex);
        error = enterCall(Call::Close, 0, pathOfDescriptor(fd));
        auto found = descriptors.find(fd);
        if (found == descriptors.end()) return fail(EBADF);
        // Like Linux, the descriptor is gone even when close reports an error.
        const std::shared_ptr<SimDevice> device = found->second.device;
        descriptors.erase(found);
        if (device) {
            const bool stillOpen =
                std::any_of(descriptors.begin(), descriptors.end(),
                            [&](const auto& entry) { return entry.second.device == device; });
            const bool stillMapped =
                std::any_of(mappings.begin(), mappings.end(),
                            [&](const auto& entry) { return entry.second.device == device; });
            if (!stillOpen && !stillMapped) released = device;
        }
    }
    if (released) released->released();
    return error ? fail(error) : 0;
}

int SimKernel::ioctl(int fd, unsigned long request, void* argument) {
    std::shared_ptr<SimDevice> device;
    bool nonBlocking = false;
    {
        MutexLock lock(kernelMutex);
        if (const int error = enterCall(Call::Ioctl, request, pathOfDescriptor(fd))) {
            return fail(error);
        }
        auto found = descriptors.find(fd);
        if (found == descriptors.end()) return fail(EBADF);
        if (!found->second.device) return fail(ENOTTY);
        device = found->second.device;
        nonBlocking = found->second.nonBlocking;
    }
    const int result = device->ioctl(request, argument, nonBlocking);
    return result < 0 ? fail(-result) : result;
}

void* SimKernel::mmap(void*, size_t length, int protection, int flags, int fd, off_t offset) {
    MutexLock lock(kernelMutex);
    if (const int error = enterCall(Call::Mmap, 0, pathOfDescriptor(fd))) {
        errno = error;
        return MAP_FAILED;
    }
    auto found = descriptors.find(fd);
    if (found == descriptors.end()) {
        errno = EBADF;
        return MAP_FAILED;
    }
    if (!found->second.device || !(flags & MAP_SHARED) || !(protection & PROT_READ) ||
        length == 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    void* address = found->second.device->map(offset, length);
    if (address == nullptr) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    mappings[address] = Mapping{length, found->second.device};
    return address;
}

int SimKernel::munmap(void* address, size_t length) {
    std::shared_ptr<SimDevice> device;
    bool lastUse = false;
    {
        MutexLock lock(kernelMutex);
        if (const int error = enterCall(Call::Munmap, 0, std::string())) return fail(error);
        auto found = mappings.find(address);
        if (found == mappings.end() || found->second.length != length) return fail(EINVAL);
        device = found->second.device;
        mappings.erase(found);
        lastUse = std::none_of(descriptors.begin(), descriptors.end(),
                               [&](const auto& entry) { return entry.second.device == device; }) &&
                  std::none_of(mappings.begin(), mappings.end(),
                               [&](const auto& entry) { return entry.second.device == device; });
    }
    device->unmapped(address);
    if (lastUse) device->released();
    return 0;
}

int SimKernel::fstat(int fd, struct stat* status) {
    MutexLock lock(kernelMutex);
    const std::string path = pathOfDescriptor(fd);
    if (const int error = enterCall(Call::Fstat, 0, path)) return fail(error);
    if (descriptors.find(fd) == descriptors.end()) return fail(EBADF);
    std::memset(status, 0, sizeof *status);
    auto found = nodes.find(path);
    if (found == nodes.end()) {
        status->st_mode = S_IFREG | 0644;  // removed while open
        return 0;
    }
    describeNode(found->second, status);
    return 0;
}

int SimKernel::statPath(const char* path, struct stat* status) {
    MutexLock lock(kernelMutex);
    const std::string name = path ? path : "";
    if (const int error = enterCall(Call::Stat, 0, name)) return fail(error);
    auto found = nodes.find(name);
    if (found == nodes.end()) return fail(ENOENT);
    std::memset(status, 0, sizeof *status);
    describeNode(found->second, status);
    return 0;
}

void SimKernel::describeNode(const Node& node, struct stat* status) {
    status->st_gid = node.gid;
    switch (node.kind) {
        case Kind::CharDevice:
            status->st_mode = S_IFCHR | 0660;
            status->st_rdev = makedev(node.major, node.minor);
            break;
        case Kind::Directory:
            status->st_mode = S_IFDIR | 0755;
            break;
        default:
            status->st_mode = S_IFREG | 0644;
            break;
    }
}

int SimKernel::listDirectory(const char* path, std::vector<std::string>* names) {
    MutexLock lock(kernelMutex);
    const std::string name = path ? path : "";
    if (const int error = enterCall(Call::ListDirectory, 0, name)) return fail(error);
    auto found = nodes.find(name);
    if (found == nodes.end()) return fail(ENOENT);
    if (found->second.kind != Kind::Directory && found->second.children.empty()) {
        return fail(ENOTDIR);
    }
    if (found->second.denied) return fail(EACCES);
    names->assign({".", ".."});
    names->insert(names->end(), found->second.children.begin(), found->second.children.end());
    return 0;
}

ssize_t SimKernel::readlink(const char* path, char* target, size_t size) {
    MutexLock lock(kernelMutex);
    const std::string name = path ? path : "";
    if (const int error = enterCall(Call::Readlink, 0, name)) return fail(error);
    auto found = nodes.find(name);
    if (found == nodes.end()) return fail(ENOENT);
    if (found->second.kind != Kind::Symlink) return fail(EINVAL);
    // Like readlink(2): truncated to `size`, not terminated.
    const std::string& link = found->second.content;
    const size_t count = std::min(size, link.size());
    std::memcpy(target, link.data(), count);
    return static_cast<ssize_t>(count);
}

int SimKernel::readLines(const char* path, size_t lineCapacity, size_t maxLines,
                         std::vector<std::string>* lines) {
    MutexLock lock(kernelMutex);
    const std::string name = path ? path : "";
    if (const int error = enterCall(Call::ReadLines, 0, name)) return fail(error);
    auto found = nodes.find(name);
    if (found == nodes.end()) return fail(ENOENT);
    if (found->second.denied) return fail(EACCES);
    if (found->second.kind == Kind::Directory) return fail(EISDIR);
    fgetsPieces(found->second.content, lineCapacity, maxLines, lines);
    return 0;
}

}  // namespace sim
}  // namespace Quarvel
