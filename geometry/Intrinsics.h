// Lens intrinsics of one sensor mode: a pinhole with Brown-Conrady distortion.
#pragma once

namespace Quarvel {

// Brown-Conrady coefficients in OpenCV's "plumb_bob" order: radial k1, k2, k3 and
// tangential p1, p2. All zero for an ideal pinhole.
struct Distortion {
    double k1 = 0, k2 = 0, p1 = 0, p2 = 0, k3 = 0;

    bool none() const { return k1 == 0 && k2 == 0 && p1 == 0 && p2 == 0 && k3 == 0; }
};

// Pixel coordinates have pixel centres at whole numbers (column, row), as OpenCV and ROS
// camera_info use: a normalised point (x, y) on the plane z = 1 is distorted to (xd, yd)
// and lands at u = fx xd + cx, v = fy yd + cy.
struct Intrinsics {
    int width = 0;
    int height = 0;
    double fx = 0, fy = 0, cx = 0, cy = 0;
    Distortion distortion;

    // What a sensor mode has when nothing better is known: 64 degrees across, square
    // pixels, the optical axis through the image centre, no distortion.
    static constexpr double kNominalHorizontalFovDegrees = 64.0;
    static Intrinsics nominal(int width, int height);

    // Positive size and focal lengths, finite values.
    bool valid() const;

    // Normalised undistorted point -> pixel (applies the distortion).
    void project(double x, double y, double& u, double& v) const;
    // Pixel -> normalised undistorted point. Inverts the distortion by fixed-point
    // iteration, exact to well below a thousandth of a pixel for lenses of this class.
    void unproject(double u, double v, double& x, double& y) const;
};

}  // namespace Quarvel
