// A simulated character-device driver: what the simulated kernel hands ioctl and mmap to.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace Quarvel {
namespace sim {

// One driver instance behind one or more device nodes. Calls may come from several threads
// at once; each driver guards its own state.
class SimDevice {
public:
    virtual ~SimDevice() = default;

    // 0 (or a positive result) on success, or a negative errno. `nonBlocking` reflects the
    // O_NONBLOCK flag of the open file.
    virtual int ioctl(unsigned long request, void* argument, bool nonBlocking) = 0;
    // The memory behind `offset` for a shared mapping of `length` bytes, or null (EINVAL).
    virtual void* map(off_t, size_t) { return nullptr; }
    // A mapping made by map() went away.
    virtual void unmapped(void*) {}
    // The last open file of the node was closed.
    virtual void released() {}
};

}  // namespace sim
}  // namespace Quarvel
