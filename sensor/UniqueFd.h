// A descriptor owned by one object and closed through the seam it came from.
#pragma once

#include <utility>

#include "sensor/SystemCalls.h"

namespace Quarvel {

// Move-only owner of a descriptor; -1 means none. Closing happens exactly once: Linux
// releases a descriptor even when close() reports an error, so it is never retried.
class UniqueFd {
public:
    UniqueFd() = default;
    UniqueFd(SystemCalls& system, int fd) : system(&system), fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : system(other.system), fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            system = other.system;
            fd = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd; }
    bool isValid() const { return fd >= 0; }
    // Gives up ownership without closing.
    [[nodiscard]] int release() { return std::exchange(fd, -1); }
    // Closes the descriptor if one is held; returns close()'s result, or 0.
    int reset() {
        if (fd < 0 || system == nullptr) return 0;
        return system->close(std::exchange(fd, -1));
    }

private:
    SystemCalls* system = nullptr;
    int fd = -1;
};

}  // namespace Quarvel
