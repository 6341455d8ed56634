// Board model from the device-tree model text, read from a file the test controls.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/BoardModelProbe.h"

using namespace Quarvel;

namespace {

// Writes `bytes` to a fresh temporary file and returns its path.
std::string modelFile(const std::string& bytes) {
    char path[] = "/tmp/quarvel-model-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    std::FILE* file = fdopen(fd, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
}

BoardModel probeText(const std::string& bytes) {
    const std::string path = modelFile(bytes);
    const BoardModel model = probeBoardModel(path.c_str());
    std::remove(path.c_str());
    return model;
}

}  // namespace

TEST(BoardModelProbe, ModelTextsGiveTheirBoards) {
    // Device-tree strings end with a NUL byte.
    const std::pair<const char*, int> cases[] = {
        {"NVIDIA Jetson Orin Nano Developer Kit", 2},
        {"NVIDIA Jetson Xavier NX Developer Kit", 3},
        {"NVIDIA Jetson Nano Developer Kit", 2},
        {"NVIDIA Jetson TX1", 2},
        {"NVIDIA Jetson AGX", 3},
        {"NVIDIA Orin Nano", 3},
        {"Raspberry Pi 5 Model B Rev 1.0", 6},
        {"Raspberry Pi 4 Model B Rev 1.4", 5},
        {"Radxa ROCK 5B", 7},
        {"radxa rock", 0},
    };
    for (const auto& [text, board] : cases) {
        EXPECT_EQ(probeText(std::string(text) + '\0'), board) << text;
    }
}

TEST(BoardModelProbe, EmptyMissingAndOddFilesAreUnknown) {
    EXPECT_EQ(probeText(""), BOARD_UNKNOWN);
    EXPECT_EQ(probeBoardModel("/nonexistent/quarvel/model"), BOARD_UNKNOWN);
    EXPECT_EQ(probeBoardModel(nullptr), BOARD_UNKNOWN);
    // Only the text before the first NUL counts.
    EXPECT_EQ(probeText(std::string("Generic\0Raspberry Pi 5", 22)), BOARD_UNKNOWN);
    // Only the first line counts, and at most 99 characters of it.
    EXPECT_EQ(probeText("Board\nRaspberry Pi"), BOARD_UNKNOWN);
    EXPECT_EQ(probeText(std::string(99, 'x') + "Raspberry Pi"), BOARD_UNKNOWN);
    EXPECT_EQ(probeText(std::string(80, 'x') + "Raspberry Pi"), BOARD_RASPBERRY_PI);
}
