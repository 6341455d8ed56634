// How long tests wait for something that must happen.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace Quarvel {
namespace support {

// A frame that must arrive. The wait ends as soon as the frame is there, so this bound only
// says how long a failing test hangs; it is generous because the suite also runs under
// qemu-user on busy machines, where one simulated frame can take seconds. (requestFrame takes
// an int16_t.)
constexpr int16_t kFrameArrivalMs = 30000;

// A condition that must come to hold (support::eventually), for the same reason.
constexpr std::chrono::milliseconds kConditionLimit{30000};

// Waits up to `limit` for `condition`; true when it held in time.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = kConditionLimit);

}  // namespace support
}  // namespace Quarvel
