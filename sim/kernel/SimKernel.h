// The simulated kernel: files, device nodes, descriptors and mappings behind the seam.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/ThreadSafety.h"
#include "sensor/SystemCalls.h"
#include "sim/kernel/SimDevice.h"

namespace Quarvel {
namespace sim {

// The kinds of call the seam carries, for fault rules and the call trace.
enum class Call {
    Open,
    Close,
    Ioctl,
    Mmap,
    Munmap,
    Fstat,
    ListDirectory,
    Readlink,
    ReadLines,
    Stat
};

const char* callName(Call call);

// One call as the kernel saw it: its kind, its ioctl request (0 for other calls) and the path
// it named or the path of the descriptor it used.
struct CallRecord {
    Call call;
    unsigned long request;
    std::string path;
};

// Makes matching calls fail with `error`. A call matches when its kind is `call`, its ioctl
// request is `request` (0: any) and its path contains `path` (empty: any). The first `skip`
// matching calls pass; the next `times` fail.
struct FaultRule {
    Call call;
    unsigned long request = 0;
    std::string path;
    int error = EIO;
    int times = 1;
    int skip = 0;

    // True when a call of kind `kind`, with `ioctlRequest`, naming `callPath` matches.
    bool matches(Call kind, unsigned long ioctlRequest, const std::string& callPath) const {
        return kind == call && (request == 0 || request == ioctlRequest) &&
               (path.empty() || callPath.find(path) != std::string::npos);
    }
};

// A file system of plain files, directories, symbolic links and character devices, a
// descriptor table and a mapping table, with fault injection and a trace of every call.
// Paths are looked up exactly as given (no symbolic-link resolution): sysfs directories
// reached through links are entered under the path a program uses.
//
// Thread contract: every operation is thread-safe; a blocking driver call (DQBUF) does not
// hold the kernel's lock.
class SimKernel : public SystemCalls {
public:
    SimKernel();
    ~SimKernel() override;

    // Building the file system. Parents are created as needed; a directory lists its
    // entries in the order they were added, after "." and "..".
    void addFile(const std::string& path, const std::string& content);
    void addDirectory(const std::string& path);
    void addSymlink(const std::string& path, const std::string& target);
    void addCharDevice(const std::string& path, unsigned major, unsigned minor,
                       std::shared_ptr<SimDevice> device);
    void remove(const std::string& path);
    // Opening `path` fails with EACCES.
    void denyAccess(const std::string& path);
    // The owner group stat reports for `path` (0, root, unless set).
    void setGroup(const std::string& path, unsigned gid);

    // Fault injection.
    void addFault(const FaultRule& rule);
    // The `number`-th call from now (counting from 0) fails with `error`, whatever it is.
    void failCallNumber(uint64_t number, int error);
    void clearFaults();

    // Observation.
    int openDescriptorCount() const;
    std::vector<std::string> openDescriptorPaths() const;
    size_t mappingCount() const;
    std::vector<CallRecord> trace() const;
    void clearTrace();

    // The seam.
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
    int statPath(const char* path, struct stat* status) override;

private:
    enum class Kind { File, Directory, Symlink, CharDevice };
    struct Node {
        Kind kind = Kind::Directory;
        std::string content;  // file text or link target
        std::vector<std::string> children;
        unsigned major = 0;
        unsigned minor = 0;
        std::shared_ptr<SimDevice> device;
        bool denied = false;
        unsigned gid = 0;
    };
    // What stat reports for a node: kind, mode, device number and group.
    static void describeNode(const Node& node, struct stat* status);
    struct OpenFile {
        std::string path;
        std::shared_ptr<SimDevice> device;
        bool nonBlocking = false;
    };
    struct Mapping {
        size_t length;
        std::shared_ptr<SimDevice> device;
    };

    Node& ensureNode(const std::string& path, Kind kind) REQUIRES(kernelMutex);
    // Records the call and applies the fault rules; the errno to fail with, or 0.
    int enterCall(Call call, unsigned long request, const std::string& path) REQUIRES(kernelMutex);
    std::string pathOfDescriptor(int fd) const REQUIRES(kernelMutex);
    static int fail(int error);

    mutable Mutex kernelMutex;  // guards every member below
    std::map<std::string, Node> nodes GUARDED_BY(kernelMutex);
    std::map<int, OpenFile> descriptors GUARDED_BY(kernelMutex);
    std::map<void*, Mapping> mappings GUARDED_BY(kernelMutex);
    std::vector<FaultRule> faults GUARDED_BY(kernelMutex);
    uint64_t callCounter GUARDED_BY(kernelMutex) = 0;
    uint64_t failingCall GUARDED_BY(kernelMutex) = UINT64_MAX;
    int failingCallError GUARDED_BY(kernelMutex) = 0;
    std::vector<CallRecord> calls GUARDED_BY(kernelMutex);
    int nextDescriptor GUARDED_BY(kernelMutex) = 1000;
};

}  // namespace sim
}  // namespace Quarvel
