// Counts every C++ heap allocation of the process (operator new replaced in this binary).
#pragma once

#include <cstdint>

namespace Quarvel {
namespace bench {

// Allocations through any form of operator new since the program started, all threads.
uint64_t heapAllocations();

}  // namespace bench
}  // namespace Quarvel
