"""3D geometry of depth frames: intrinsics, point clouds, depth filters and PLY files.

The work is done in C++ (quarvel._native over the library's geometry); this module gives it
numpy-friendly names. Depth is float32 millimetres with 0 (or NaN) where there is none, as
the camera delivers it. Point clouds are in metres by default (units="mm" for millimetres),
x right, y down, z along the optical axis; pixels without depth are NaN.
"""
import math

import numpy as np

from . import _native
from ._native import Intrinsics, PointCloud, TemporalFilter

__all__ = [
    "Intrinsics", "PointCloud", "TemporalFilter", "camera_matrix", "fill_holes",
    "intrinsics_for", "median3x3", "point_cloud", "read_camera_info", "remove_flying_pixels",
    "smooth_preserving_edges", "threshold_by_confidence", "write_camera_info", "write_ply",
]

_SCALES = {"m": 0.001, "mm": 1.0}


def read_camera_info(path):
    """Intrinsics from a camera_info YAML file (ROS / OpenCV calibration output)."""
    intrinsics, error = _native.read_camera_info(str(path))
    if intrinsics is None:
        raise ValueError(error)
    return intrinsics


def intrinsics_for(width, height, calibration=None):
    """The intrinsics of a width x height sensor mode: from the camera_info file
    `calibration` when given, else the nominal values (64 degrees across, centred axis, no
    distortion). The phase library's calibration file holds no intrinsics."""
    intrinsics, error = _native.resolve_intrinsics("" if calibration is None else str(calibration),
                                                   width, height)
    if intrinsics is None:
        raise ValueError(error)
    return intrinsics


def camera_matrix(intrinsics):
    """The 3x3 matrix K of OpenCV."""
    return np.array([[intrinsics.fx, 0.0, intrinsics.cx],
                     [0.0, intrinsics.fy, intrinsics.cy],
                     [0.0, 0.0, 1.0]])


def write_camera_info(path, intrinsics, camera_name="quarvel"):
    """Writes intrinsics in the camera_info YAML layout (readable by read_camera_info,
    ROS camera_calibration_parsers and OpenCV users' tools)."""
    k = ", ".join(repr(float(v)) for v in camera_matrix(intrinsics).ravel())
    d = ", ".join(repr(float(v)) for v in intrinsics.distortion)
    p = ", ".join(repr(float(v)) for v in
                  (intrinsics.fx, 0, intrinsics.cx, 0, 0, intrinsics.fy, intrinsics.cy, 0, 0, 0, 1, 0))
    with open(path, "w") as f:
        f.write(f"image_width: {intrinsics.width}\nimage_height: {intrinsics.height}\n"
                f"camera_name: {camera_name}\n"
                f"camera_matrix:\n  rows: 3\n  cols: 3\n  data: [{k}]\n"
                f"distortion_model: plumb_bob\n"
                f"distortion_coefficients:\n  rows: 1\n  cols: 5\n  data: [{d}]\n"
                f"rectification_matrix:\n  rows: 3\n  cols: 3\n"
                f"  data: [1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0]\n"
                f"projection_matrix:\n  rows: 3\n  cols: 4\n  data: [{p}]\n")


def point_cloud(depth, intrinsics, units="m", organised=True, amplitude=None, out=None):
    """Points of a depth frame. Organised: a (H, W, 3) float32 array, NaN where there is no
    depth (`out` may be given to avoid allocating). Dense (organised=False): a (N, 3) array
    of the valid points in pixel order, or (points, amplitudes) when `amplitude` is given.
    `intrinsics` may also be a PointCloud (its ray table is reused)."""
    if units not in _SCALES:
        raise ValueError(f"units must be 'm' or 'mm', got {units!r}")
    cloud = intrinsics if isinstance(intrinsics, PointCloud) else PointCloud(intrinsics)
    if organised:
        return cloud.organised(depth, _SCALES[units], out)
    points, amplitudes = cloud.dense(depth, amplitude, _SCALES[units])
    return points if amplitude is None else (points, amplitudes)


def threshold_by_confidence(depth, confidence, minimum, out=None):
    """Depth where `confidence` (amplitude or confidence plane) is at least `minimum`, else 0."""
    return _native.threshold_by_confidence(depth, confidence, minimum, out)


def remove_flying_pixels(depth, max_relative_step=0.05, out=None):
    """Drops mixed pixels at depth edges: those with both neighbours along a line (row,
    column or diagonal) farther than max_relative_step x their depth."""
    return _native.remove_flying_pixels(depth, max_relative_step, out)


def smooth_preserving_edges(depth, radius=2, max_step_mm=30.0, out=None):
    """Mean over a (2 radius + 1)^2 window of the pixels within max_step_mm of the centre."""
    return _native.smooth_preserving_edges(depth, radius, max_step_mm, out)


def fill_holes(depth, min_neighbours=5, out=None):
    """Pixels without depth with at least min_neighbours of 8 valid neighbours take the
    farthest of them."""
    return _native.fill_holes(depth, min_neighbours, out)


def median3x3(depth, out=None):
    """3x3 median with replicated edges (missing depth counts as 0)."""
    return _native.median3x3(depth, out)


def write_ply(path, points, amplitude=None):
    """Binary PLY of the finite points of `points` (shape (..., 3)), with a float
    "amplitude" property when given (one value per point). Returns the vertex count."""
    return _native.write_ply(str(path), points, amplitude)


def ray_to_z(depth, intrinsics):
    """z (along the optical axis) of each pixel from its distance along the ray."""
    rays = PointCloud(intrinsics).rays
    return np.asarray(depth, dtype=np.float32) * rays[..., 2]


def field_of_view_degrees(intrinsics):
    """(horizontal, vertical) field of view of the undistorted pinhole."""
    return (math.degrees(2 * math.atan(intrinsics.width / 2 / intrinsics.fx)),
            math.degrees(2 * math.atan(intrinsics.height / 2 / intrinsics.fy)))
