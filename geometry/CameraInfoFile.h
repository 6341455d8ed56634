// Intrinsics from a calibration file in the camera_info YAML layout of ROS and OpenCV users.
#pragma once

#include <cstddef>
#include <string>

#include "geometry/Intrinsics.h"

namespace Quarvel {

// Reads the keys image_width, image_height, camera_matrix (data: 9 numbers, row-major),
// distortion_model ("plumb_bob", or absent) and distortion_coefficients (data: 4 or 5
// numbers k1 k2 p1 p2 [k3]; absent means none). Other keys are ignored.
// Returns 0 and fills `out`, or -1 with a one-line reason in `error` (out unchanged).
int parseCameraInfo(const std::string& text, Intrinsics& out, std::string& error);
// A camera_info file is a few hundred bytes; anything beyond this is not one.
constexpr size_t kMaxCameraInfoBytes = 64 * 1024;

int readCameraInfo(const std::string& path, Intrinsics& out, std::string& error);

// The intrinsics of a width x height sensor mode, from the first source that has them:
// the calibration file at `calibrationPath` (when not empty; it must be of this mode's
// size), else the nominal values (Intrinsics::nominal). The phase library's calibration
// file holds only per-pixel distance offsets, so it is no source of intrinsics.
// Returns 0, or -1 with a reason when the named file is unusable.
int resolveIntrinsics(const std::string& calibrationPath, int width, int height, Intrinsics& out,
                      std::string& error);

}  // namespace Quarvel
