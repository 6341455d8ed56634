// Which single-board computer we run on, from the device-tree model text.
#pragma once

#include <string>

#include "core/Types.h"

namespace Quarvel {

class SystemCalls;  // sensor/SystemCalls.h

// Where the board's model text lives on Linux.
constexpr const char* kDeviceTreeModelPath = "/sys/firmware/devicetree/base/model";

// Board model for a model text (first rule that decides wins; case matters).
BoardModel boardModelFromText(const std::string& modelText);

// Reads the first line (at most 99 characters, up to its first NUL) of the model file.
// A missing or unreadable file gives BOARD_UNKNOWN; the probe never fails.
BoardModel probeBoardModel(const char* modelPath = kDeviceTreeModelPath);
// The same over another system (a simulated board's device tree).
BoardModel probeBoardModel(SystemCalls& system, const char* modelPath = kDeviceTreeModelPath);

}  // namespace Quarvel
