// Board-model probe over the device-tree model text.
#include "core/BoardModelProbe.h"

#include <cstdio>
#include <cstring>

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
    if (modelPath == nullptr) return BOARD_UNKNOWN;
    std::FILE* file = std::fopen(modelPath, "r");
    if (file == nullptr) return BOARD_UNKNOWN;
    char line[100] = {};
    if (std::fgets(line, sizeof line, file) == nullptr) line[0] = '\0';
    std::fclose(file);
    // The device-tree text ends with a NUL; the model is what comes before it.
    return boardModelFromText(std::string(line, strnlen(line, sizeof line)));
}

}  // namespace Quarvel
