// Calibration files in the camera_info layout: any text is read or refused with a one-line
// reason, and what is read is a usable lens whose distortion can be inverted.
#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz/support/FuzzCheck.h"
#include "geometry/CameraInfoFile.h"
#include "geometry/PointCloud.h"

using namespace Quarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Intrinsics intrinsics = Intrinsics::nominal(3, 2);
    std::string error;
    if (parseCameraInfo(text, intrinsics, error) != 0) {
        FUZZ_CHECK(intrinsics.width == 3 && intrinsics.height == 2);  // left alone
        FUZZ_CHECK(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    FUZZ_CHECK(intrinsics.valid());
    FUZZ_CHECK(intrinsics.width > 0 && intrinsics.height > 0);
    // Unprojecting any pixel must stay defined (no trap, no sanitizer report); a wild lens
    // may give a non-finite ray, which the point cloud then turns into NaN points.
    double x = 0, y = 0;
    intrinsics.unproject(0, 0, x, y);
    intrinsics.unproject(intrinsics.width - 1, intrinsics.height - 1, x, y);
    if (static_cast<long>(intrinsics.width) * intrinsics.height <= 4096) {
        const PointCloud cloud(intrinsics);
        FUZZ_CHECK(cloud.rays().size() == 3 * cloud.pixels());
    }
    return 0;
}
