// PLY header and little-endian vertex records.
#include "geometry/PlyWriter.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace Quarvel {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool finitePoint(const float* p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

void putLittleEndian(float value, unsigned char* out) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int b = 0; b < 4; ++b) out[b] = static_cast<unsigned char>(bits >> (8 * b));
}

}  // namespace

long writePly(const std::string& path, const float* points, size_t pointCount,
              const float* amplitudes) {
    if (points == nullptr && pointCount > 0) return -1;
    size_t vertices = 0;
    for (size_t i = 0; i < pointCount; ++i) vertices += finitePoint(points + 3 * i);

    std::string header = "ply\nformat binary_little_endian 1.0\ncomment QuarvelDepthCamera\n";
    header += "element vertex " + std::to_string(vertices) + "\n";
    header += "property float x\nproperty float y\nproperty float z\n";
    if (amplitudes != nullptr) header += "property float amplitude\n";
    header += "end_header\n";

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return -1;
    if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size()) return -1;
    const size_t fields = amplitudes != nullptr ? 4 : 3;
    // Records go out in blocks, so a large cloud needs neither one write per point nor a
    // copy of the whole cloud.
    constexpr size_t kBlockVertices = 4096;
    std::vector<unsigned char> block(kBlockVertices * fields * 4);
    size_t filled = 0;
    for (size_t i = 0; i < pointCount; ++i) {
        const float* p = points + 3 * i;
        if (!finitePoint(p)) continue;
        unsigned char* record = block.data() + filled * fields * 4;
        for (int axis = 0; axis < 3; ++axis) putLittleEndian(p[axis], record + 4 * axis);
        if (amplitudes != nullptr) putLittleEndian(amplitudes[i], record + 12);
        if (++filled == kBlockVertices) {
            if (std::fwrite(block.data(), 1, block.size(), file.get()) != block.size()) return -1;
            filled = 0;
        }
    }
    const size_t rest = filled * fields * 4;
    if (std::fwrite(block.data(), 1, rest, file.get()) != rest) return -1;
    if (std::fclose(file.release()) != 0) return -1;
    return static_cast<long>(vertices);
}

}  // namespace Quarvel
