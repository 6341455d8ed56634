// What a piece of code writes to standard error, for tests that check messages.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace Quarvel {
namespace support {

// Runs `action` and returns what it wrote to stderr.
inline std::string capturedStderr(const std::function<void()>& action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

}  // namespace support
}  // namespace Quarvel
