// A memory mapping owned by one object and unmapped through the seam it came from.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "sensor/SystemCalls.h"

namespace Quarvel {

// Move-only owner of one mapping of `length` bytes. A mapping whose munmap failed stays
// owned, so that a later unmap() or the destructor tries again.
class MemoryMapping {
public:
    MemoryMapping() = default;
    MemoryMapping(SystemCalls& system, void* address, size_t length)
        : system(&system), address(address == MAP_FAILED ? nullptr : address), length(length) {}
    ~MemoryMapping() { unmap(); }
    MemoryMapping(MemoryMapping&& other) noexcept
        : system(other.system),
          address(std::exchange(other.address, nullptr)),
          length(std::exchange(other.length, 0)) {}
    MemoryMapping& operator=(MemoryMapping&& other) noexcept {
        if (this != &other) {
            unmap();
            system = other.system;
            address = std::exchange(other.address, nullptr);
            length = std::exchange(other.length, 0);
        }
        return *this;
    }
    MemoryMapping(const MemoryMapping&) = delete;
    MemoryMapping& operator=(const MemoryMapping&) = delete;

    bool isValid() const { return address != nullptr; }
    const uint8_t* data() const { return static_cast<const uint8_t*>(address); }
    size_t size() const { return length; }
    // 0, or munmap's failure (the mapping is then kept).
    int unmap() {
        if (address == nullptr || system == nullptr) return 0;
        const int result = system->munmap(address, length);
        if (result == 0) {
            address = nullptr;
            length = 0;
        }
        return result;
    }

private:
    SystemCalls* system = nullptr;
    void* address = nullptr;
    size_t length = 0;
};

}  // namespace Quarvel
