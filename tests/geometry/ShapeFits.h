// Least-squares fits of planes and spheres to point sets, for known-answer checks.
#pragma once

#include <array>
#include <cmath>
#include <vector>

namespace Quarvel {
namespace geometrytest {

struct Point {
    double x, y, z;
};

// Solves the n x n system a x = b (n <= 4) by Gaussian elimination with pivoting.
template <int N>
std::array<double, N> solve(std::array<std::array<double, N>, N> a, std::array<double, N> b) {
    for (int col = 0; col < N; ++col) {
        int pivot = col;
        for (int row = col + 1; row < N; ++row)
            if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int row = col + 1; row < N; ++row) {
            const double factor = a[row][col] / a[col][col];
            for (int k = col; k < N; ++k) a[row][k] -= factor * a[col][k];
            b[row] -= factor * b[col];
        }
    }
    std::array<double, N> x{};
    for (int row = N - 1; row >= 0; --row) {
        double sum = b[row];
        for (int k = row + 1; k < N; ++k) sum -= a[row][k] * x[k];
        x[row] = sum / a[row][row];
    }
    return x;
}

// Plane z = a x + b y + c: unit normal, distance from the origin, angle of the normal to
// the optical axis, RMS of the perpendicular residuals.
struct PlaneFit {
    double distance = 0, tiltDegrees = 0, rmsResidual = 0;
};

inline PlaneFit fitPlane(const std::vector<Point>& points) {
    std::array<std::array<double, 3>, 3> normal{};
    std::array<double, 3> right{};
    for (const Point& p : points) {
        const double row[3] = {p.x, p.y, 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) normal[i][j] += row[i] * row[j];
            right[i] += row[i] * p.z;
        }
    }
    const auto abc = solve<3>(normal, right);
    const double norm = std::sqrt(abc[0] * abc[0] + abc[1] * abc[1] + 1.0);
    PlaneFit fit;
    fit.distance = abc[2] / norm;
    fit.tiltDegrees = std::acos(1.0 / norm) * 180.0 / 3.14159265358979323846;
    double squares = 0;
    for (const Point& p : points) {
        const double residual = (p.z - abc[0] * p.x - abc[1] * p.y - abc[2]) / norm;
        squares += residual * residual;
    }
    fit.rmsResidual = std::sqrt(squares / points.size());
    return fit;
}

struct SphereFit {
    Point centre{0, 0, 0};
    double radius = 0;
};

// x^2 + y^2 + z^2 = 2 a x + 2 b y + 2 c z + d, linear in (a, b, c, d).
inline SphereFit fitSphere(const std::vector<Point>& points) {
    std::array<std::array<double, 4>, 4> normal{};
    std::array<double, 4> right{};
    for (const Point& p : points) {
        const double row[4] = {2 * p.x, 2 * p.y, 2 * p.z, 1.0};
        const double value = p.x * p.x + p.y * p.y + p.z * p.z;
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) normal[i][j] += row[i] * row[j];
            right[i] += row[i] * value;
        }
    }
    const auto s = solve<4>(normal, right);
    SphereFit fit;
    fit.centre = {s[0], s[1], s[2]};
    fit.radius = std::sqrt(s[3] + s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    return fit;
}

}  // namespace geometrytest
}  // namespace Quarvel
