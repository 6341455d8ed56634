"""3D geometry of depth frames: intrinsics, point clouds, depth filters and PLY files.

The work is done in C++ (quarvel._native over the library's geometry); this module gives it
numpy-friendly names. Depth is float32 millimetres with 0 (or NaN) where there is none, as
the camera delivers it. Point clouds are in metres by default (units="mm" for millimetres),
x right, y down, z along the optical axis; pixels without depth are NaN.
"""
import math
import os
from typing import Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _native
from ._native import Intrinsics, PointCloud, TemporalFilter

__all__ = [
    "Intrinsics", "PointCloud", "TemporalFilter", "camera_matrix", "fill_holes",
    "intrinsics_for", "median3x3", "point_cloud", "read_camera_info", "remove_flying_pixels",
    "smooth_preserving_edges", "threshold_by_confidence", "write_camera_info", "write_ply",
]

_SCALES = {"m": 0.001, "mm": 1.0}

FloatArray = npt.NDArray[np.float32]
PathLike = Union[str, "os.PathLike[str]"]


def read_camera_info(path: PathLike) -> Intrinsics:
    """Intrinsics from a camera_info YAML file (ROS / OpenCV calibration output).

    Raises ValueError with the reason when the file cannot be read or is not one."""
    intrinsics, error = _native.read_camera_info(str(path))
    if intrinsics is None:
        raise ValueError(error)
    return intrinsics


def intrinsics_for(width: int, height: int, calibration: Optional[PathLike] = None) -> Intrinsics:
    """The intrinsics of a width x height sensor mode: from the camera_info file
    `calibration` when given, else the nominal values (64 degrees across, centred axis, no
    distortion). The phase library's calibration file holds no intrinsics. Raises ValueError
    when the file cannot be read or describes another size."""
    intrinsics, error = _native.resolve_intrinsics("" if calibration is None else str(calibration),
                                                   width, height)
    if intrinsics is None:
        raise ValueError(error)
    return intrinsics


def camera_matrix(intrinsics: Intrinsics) -> npt.NDArray[np.float64]:
    """The 3x3 matrix K of OpenCV."""
    return np.array([[intrinsics.fx, 0.0, intrinsics.cx],
                     [0.0, intrinsics.fy, intrinsics.cy],
                     [0.0, 0.0, 1.0]])


def write_camera_info(path: PathLike, intrinsics: Intrinsics,
                      camera_name: str = "quarvel") -> None:
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


def point_cloud(depth: npt.ArrayLike, intrinsics: Union[Intrinsics, PointCloud], units: str = "m",
                organised: bool = True, amplitude: Optional[npt.ArrayLike] = None,
                out: Optional[FloatArray] = None) -> Union[FloatArray, Tuple[FloatArray, FloatArray]]:
    """Points of a depth frame. Organised: a (H, W, 3) float32 array, NaN where there is no
    depth (`out` may be given to avoid allocating). Dense (organised=False): a (N, 3) array
    of the valid points in pixel order, or (points, amplitudes) when `amplitude` is given.
    `intrinsics` may also be a PointCloud (its ray table is reused). Raises ValueError for
    other units and for arrays of the wrong shape or type."""
    if units not in _SCALES:
        raise ValueError(f"units must be 'm' or 'mm', got {units!r}")
    cloud = intrinsics if isinstance(intrinsics, PointCloud) else PointCloud(intrinsics)
    if organised:
        return cloud.organised(depth, _SCALES[units], out)
    points, amplitudes = cloud.dense(depth, amplitude, _SCALES[units])
    if amplitude is None:
        return points
    # The extension returns the amplitudes whenever they were given.
    assert amplitudes is not None
    return points, amplitudes


def threshold_by_confidence(depth: npt.ArrayLike, confidence: npt.ArrayLike, minimum: float,
                            out: Optional[FloatArray] = None) -> FloatArray:
    """Depth where `confidence` (amplitude or confidence plane) is at least `minimum`, else 0."""
    return _native.threshold_by_confidence(depth, confidence, minimum, out)


def remove_flying_pixels(depth: npt.ArrayLike, max_relative_step: float = 0.05,
                         out: Optional[FloatArray] = None) -> FloatArray:
    """Drops mixed pixels at depth edges: those with both neighbours along a line (row,
    column or diagonal) farther than max_relative_step x their depth."""
    return _native.remove_flying_pixels(depth, max_relative_step, out)


def smooth_preserving_edges(depth: npt.ArrayLike, radius: int = 2, max_step_mm: float = 30.0,
                            out: Optional[FloatArray] = None) -> FloatArray:
    """Mean over a (2 radius + 1)^2 window of the pixels within max_step_mm of the centre."""
    return _native.smooth_preserving_edges(depth, radius, max_step_mm, out)


def fill_holes(depth: npt.ArrayLike, min_neighbours: int = 5,
               out: Optional[FloatArray] = None) -> FloatArray:
    """Pixels without depth with at least min_neighbours of 8 valid neighbours take the
    farthest of them."""
    return _native.fill_holes(depth, min_neighbours, out)


def median3x3(depth: npt.ArrayLike, out: Optional[FloatArray] = None) -> FloatArray:
    """3x3 median with replicated edges (missing depth counts as 0)."""
    return _native.median3x3(depth, out)


def write_ply(path: PathLike, points: npt.ArrayLike,
              amplitude: Optional[npt.ArrayLike] = None) -> int:
    """Binary PLY of the finite points of `points` (shape (..., 3)), with a float
    "amplitude" property when given (one value per point). Returns the vertex count."""
    return _native.write_ply(str(path), points, amplitude)


def ray_to_z(depth: npt.ArrayLike, intrinsics: Intrinsics) -> FloatArray:
    """z (along the optical axis) of each pixel from its distance along the ray."""
    rays = PointCloud(intrinsics).rays
    z: FloatArray = np.asarray(depth, dtype=np.float32) * rays[..., 2]
    return z


def field_of_view_degrees(intrinsics: Intrinsics) -> Tuple[float, float]:
    """(horizontal, vertical) field of view of the undistorted pinhole."""
    return (math.degrees(2 * math.atan(intrinsics.width / 2 / intrinsics.fx)),
            math.degrees(2 * math.atan(intrinsics.height / 2 / intrinsics.fy)))
