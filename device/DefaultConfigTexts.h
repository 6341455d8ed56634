// The phase library's three default configuration texts, constant for the program's life.
#pragma once

#include <cstddef>

namespace Quarvel {

// One text: its file name and its exact bytes (size decides, there is no terminator).
struct ConfigText {
    const char* fileName;
    const char* bytes;
    size_t size;
};

constexpr int kDefaultConfigTextCount = 3;

// "ConfigAlgorithm.json", 273 bytes, ends with a line feed.
const ConfigText& configAlgorithmText();
// "ConfigCamera.json", 9476 bytes, no line feed at the end.
const ConfigText& configCameraText();
// "register.json", 946 bytes, no line feed at the end.
const ConfigText& registerText();
// The three texts in the order they are written. Thread-safe.
const ConfigText* const* defaultConfigTexts();

}  // namespace Quarvel
