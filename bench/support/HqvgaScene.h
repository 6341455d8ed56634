// Raw frames of a known 240x180 scene, synthesised ahead of time for benchmarks.
#pragma once

#include <cstdint>
#include <vector>

namespace Quarvel {
namespace bench {

// `count` raw frames (four sub-frames of little-endian 11-bit samples each) of a tilted wall
// from 0.5 m to 3.5 m with amplitude falling off with distance and sensor noise; each frame
// has its own noise. Far-range pairing (y = P2 - P0, x = P3 - P1), shift 0.
std::vector<std::vector<uint8_t>> synthesiseHqvgaFrames(int count, uint32_t seed = 1);

}  // namespace bench
}  // namespace Quarvel
