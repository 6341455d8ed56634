// What a piece of code writes to standard error, for targets that check the messages.
#pragma once

#include <functional>
#include <string>

namespace Quarvel {
namespace fuzz {

// Runs `action` with file descriptor 2 sent to an in-memory file and returns what was
// written there; descriptor 2 is restored afterwards (also when it was closed, as libFuzzer
// does with -close_fd_mask=2). Single-threaded use only.
std::string capturedStderr(const std::function<void()>& action);

}  // namespace fuzz
}  // namespace Quarvel
