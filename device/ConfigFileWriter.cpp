// The default configuration writer: three constant texts, each replaced by a rename.
#include "device/ConfigFileWriter.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

#include "device/DefaultConfigTexts.h"

namespace Quarvel {

namespace {

// Less the process's umask, as a plain create of the file gave before.
constexpr mode_t kConfigFileMode = 0666;
// A planted name takes one more try; a directory full of them is refused in the end.
constexpr int kTemporaryNameAttempts = 16;

// A name nobody else is likely to hold: the process, a per-process count and the clock.
std::string temporaryName(const char* fileName) {
    static std::atomic<uint32_t> counter{0};
    const auto ticks =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return std::string(".") + fileName + "." + std::to_string(::getpid()) + "." +
           std::to_string(counter.fetch_add(1)) + "." + std::to_string(ticks % 1000000007u) +
           ".tmp";
}

// Writes `size` bytes, resuming after partial writes and signals; false on any error or
// on a write that makes no progress (a full file system may report 0).
bool writeAll(FileWriteCalls& calls, int fd, const char* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t written = calls.write(fd, bytes + done, size - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// Creates a temporary file holding `text` completely; its name goes to `temporary`.
bool writeTemporary(FileWriteCalls& calls, const ConfigText& text, std::string& temporary) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::string name = temporaryName(text.fileName);
        const int fd = calls.createExclusive(name.c_str(), kConfigFileMode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        const bool written = writeAll(calls, fd, text.bytes, text.size);
        // A failed close may mean the data never reached the disk: it counts as a failure.
        const bool closed = calls.close(fd) == 0;
        if (!written || !closed) {
            calls.unlink(name.c_str());
            return false;
        }
        temporary = name;
        return true;
    }
    return false;
}

}  // namespace

bool writeDefaultConfigFiles(FileWriteCalls& calls) {
    const ConfigText* const* texts = defaultConfigTexts();
    std::array<std::string, kDefaultConfigTextCount> temporaries;
    bool complete = true;
    for (int i = 0; i < kDefaultConfigTextCount && complete; ++i) {
        complete = writeTemporary(calls, *texts[i], temporaries[i]);
    }
    for (int i = 0; i < kDefaultConfigTextCount; ++i) {
        if (temporaries[i].empty()) continue;
        if (complete && calls.rename(temporaries[i].c_str(), texts[i]->fileName) == 0) continue;
        complete = false;
        calls.unlink(temporaries[i].c_str());
    }
    return complete;
}

}  // namespace Quarvel
