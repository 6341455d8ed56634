// How a text file reads through fgets with a fixed buffer, for the simulated file systems.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace Quarvel {
namespace sim {

// The pieces fgets returns for `text` with a buffer of lineCapacity bytes, at most maxLines
// of them: a piece ends after a newline or after lineCapacity - 1 characters, and, being a C
// string, at its first NUL.
inline void fgetsPieces(const std::string& text, size_t lineCapacity, size_t maxLines,
                        std::vector<std::string>* lines) {
    lines->clear();
    const size_t longest = lineCapacity > 1 ? lineCapacity - 1 : 1;
    size_t at = 0;
    while (at < text.size() && lines->size() < maxLines) {
        size_t end = at;
        while (end < text.size() && end - at < longest) {
            if (text[end++] == '\n') break;
        }
        std::string piece = text.substr(at, end - at);
        piece.resize(strnlen(piece.c_str(), piece.size()));
        lines->push_back(std::move(piece));
        at = end;
    }
}

}  // namespace sim
}  // namespace Quarvel
