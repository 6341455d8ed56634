// Waiting for a condition that another thread brings about.
#include "tests/support/Waits.h"

#include <thread>

namespace Quarvel {
namespace support {

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

}  // namespace support
}  // namespace Quarvel
