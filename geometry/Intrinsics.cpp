// Nominal intrinsics and the distortion model's forward and inverse maps.
#include "geometry/Intrinsics.h"

#include <cmath>

namespace Quarvel {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr int kUndistortIterations = 20;

void distortNormalised(const Distortion& d, double x, double y, double& xd, double& yd) {
    const double r2 = x * x + y * y;
    const double radial = 1.0 + r2 * (d.k1 + r2 * (d.k2 + r2 * d.k3));
    xd = x * radial + 2.0 * d.p1 * x * y + d.p2 * (r2 + 2.0 * x * x);
    yd = y * radial + d.p1 * (r2 + 2.0 * y * y) + 2.0 * d.p2 * x * y;
}
}  // namespace

Intrinsics Intrinsics::nominal(int width, int height) {
    Intrinsics intrinsics;
    intrinsics.width = width;
    intrinsics.height = height;
    const double focal = 0.5 * width / std::tan(0.5 * kNominalHorizontalFovDegrees * kPi / 180.0);
    intrinsics.fx = focal;
    intrinsics.fy = focal;
    intrinsics.cx = 0.5 * width - 0.5;
    intrinsics.cy = 0.5 * height - 0.5;
    return intrinsics;
}

bool Intrinsics::valid() const {
    const double values[] = {
        fx, fy, cx, cy, distortion.k1, distortion.k2, distortion.p1, distortion.p2, distortion.k3};
    for (double value : values) {
        if (!std::isfinite(value)) return false;
    }
    return width > 0 && height > 0 && fx > 0 && fy > 0;
}

void Intrinsics::project(double x, double y, double& u, double& v) const {
    double xd = x, yd = y;
    distortNormalised(distortion, x, y, xd, yd);
    u = fx * xd + cx;
    v = fy * yd + cy;
}

void Intrinsics::unproject(double u, double v, double& x, double& y) const {
    const double xd = (u - cx) / fx, yd = (v - cy) / fy;
    x = xd;
    y = yd;
    if (distortion.none()) return;
    // Solve distort(x, y) = (xd, yd): move the guess by what its distortion misses.
    for (int i = 0; i < kUndistortIterations; ++i) {
        double px = 0, py = 0;
        distortNormalised(distortion, x, y, px, py);
        x += xd - px;
        y += yd - py;
    }
}

}  // namespace Quarvel
