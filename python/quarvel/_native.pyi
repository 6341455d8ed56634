"""Types of quarvel._native, the C++ geometry under quarvel.geometry (intrinsics, point
clouds, depth filters, PLY files). Depth arguments are anything numpy turns into a 2-D float32
array; `out` is a float32 array of the result's shape to write into instead of a new one."""
from typing import List, Optional, Tuple

import numpy as np
import numpy.typing as npt


class Intrinsics:
    """Pinhole intrinsics of a width x height sensor mode with Brown-Conrady distortion."""
    def __init__(self, width: int, height: int, fx: float, fy: float, cx: float, cy: float,
                 distortion: List[float] = ...) -> None: ...
    @staticmethod
    def nominal(width: int, height: int) -> Intrinsics:
        """64 degrees across, square pixels, centred axis, no distortion."""
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def fx(self) -> float: ...
    @property
    def fy(self) -> float: ...
    @property
    def cx(self) -> float: ...
    @property
    def cy(self) -> float: ...
    @property
    def distortion(self) -> List[float]:
        """k1, k2, p1, p2, k3."""
    def project(self, x: float, y: float) -> Tuple[float, float]:
        """Pixel (u, v) of the normalised ray (x, y), with distortion."""
    def unproject(self, u: float, v: float) -> Tuple[float, float]:
        """Normalised ray (x, y) of the pixel (u, v), without distortion."""

class PointCloud:
    """Ray table of an Intrinsics, reused for every depth frame of that size."""
    def __init__(self, intrinsics: Intrinsics) -> None: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def intrinsics(self) -> Intrinsics: ...
    @property
    def rays(self) -> npt.NDArray[np.float32]:
        """(height, width, 3) unit rays."""
    def organised(self, depth: npt.ArrayLike, scale: float,
                  out: Optional[npt.NDArray[np.float32]] = None) -> npt.NDArray[np.float32]:
        """(height, width, 3) points, NaN without depth."""
    def dense(self, depth: npt.ArrayLike, amplitude: Optional[npt.ArrayLike],
              scale: float) -> Tuple[npt.NDArray[np.float32], Optional[npt.NDArray[np.float32]]]:
        """(N, 3) valid points in pixel order, and their amplitudes when given."""

class TemporalFilter:
    """Exponential smoothing over frames that restarts a pixel after a jump."""
    def __init__(self, width: int, height: int, alpha: float, jump_mm: float) -> None: ...
    def apply(self, depth: npt.ArrayLike, out: Optional[npt.NDArray[np.float32]] = None) -> npt.NDArray[np.float32]: ...
    def reset(self) -> None: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...

def threshold_by_confidence(depth: npt.ArrayLike, confidence: npt.ArrayLike, minimum: float,
                            out: Optional[npt.NDArray[np.float32]] = None) -> npt.NDArray[np.float32]: ...
def remove_flying_pixels(depth: npt.ArrayLike, max_relative_step: float,
                         out: Optional[npt.NDArray[np.float32]] = None) -> npt.NDArray[np.float32]: ...
def smooth_preserving_edges(depth: npt.ArrayLike, radius: int, max_step_mm: float,
                            out: Optional[npt.NDArray[np.float32]] = None) -> npt.NDArray[np.float32]: ...
def fill_holes(depth: npt.ArrayLike, min_neighbours: int,
               out: Optional[npt.NDArray[np.float32]] = None) -> npt.NDArray[np.float32]: ...
def median3x3(depth: npt.ArrayLike, out: Optional[npt.NDArray[np.float32]] = None) -> npt.NDArray[np.float32]: ...
def write_ply(path: str, points: npt.ArrayLike, amplitude: Optional[npt.ArrayLike] = None) -> int: ...
def read_camera_info(path: str) -> Tuple[Optional[Intrinsics], Optional[str]]:
    """(intrinsics, None), or (None, the reason) when the file is not a camera_info file."""
def resolve_intrinsics(path: str, width: int,
                       height: int) -> Tuple[Optional[Intrinsics], Optional[str]]:
    """The intrinsics of the file `path` (nominal ones for ""), or (None, the reason)."""
