// Binary PLY files of point clouds, readable by PCL, Open3D, MeshLab and CloudCompare.
#pragma once

#include <cstddef>
#include <string>

namespace Quarvel {

// Writes a binary little-endian PLY with one vertex per valid point (x y z as float; and
// a float "amplitude" property when amplitudes are given). Points with a coordinate that
// is not finite (the NaN of pixels without depth) are left out. `points` holds 3 floats a
// point, pointCount points; `amplitudes` is null or holds pointCount values.
// Returns the number of vertices written, or -1 when the file cannot be written.
long writePly(const std::string& path, const float* points, size_t pointCount,
              const float* amplitudes);

}  // namespace Quarvel
