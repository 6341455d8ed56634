// Board-model probe over the device-tree model text.
#include "core/BoardModelProbe.h"

#include <string>
#include <vector>

#include "sensor/SystemCalls.h"

namespace Quarvel {

BoardModel boardModelFromText(const std::string& text) {
    auto has = [&text](const char* word) { return text.find(word) != std::string::npos; };
    if (has("Jetson")) {
        if (has("Xavier")) return BOARD_JETSON;
        if (has("TX1") || has("Nano")) return BOARD_JETSON_NANO;
        return BOARD_JETSON;
    }
    if (has(" Orin")) return BOARD_JETSON;
    if (has("Raspberry")) return has("Pi 5") ? BOARD_RASPBERRY_PI_5 : BOARD_RASPBERRY_PI;
    if (has("Radxa ROCK")) return BOARD_RADXA_ROCK;
    return BOARD_UNKNOWN;
}

BoardModel probeBoardModel(const char* modelPath) {
    return probeBoardModel(productionSystemCalls(), modelPath);
}

BoardModel probeBoardModel(SystemCalls& system, const char* modelPath) {
    if (modelPath == nullptr) return BOARD_UNKNOWN;
    // One line of at most 99 characters; the device-tree text ends with a NUL and the model
    // is what comes before it (the seam's lines already stop there).
    std::vector<std::string> lines;
    if (system.readLines(modelPath, 100, 1, &lines) != 0) return BOARD_UNKNOWN;
    return boardModelFromText(lines.empty() ? std::string() : lines.front());
}

}  // namespace Quarvel
