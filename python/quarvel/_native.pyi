"""Types of quarvel._native, the C++ geometry under quarvel.geometry (intrinsics, point
clouds, depth filters, PLY files), and the CSI discovery and open path as data for the quarvel
command (a traced open, the board model, stat, text files and directories through the
process's system). Depth arguments are anything numpy turns into a 2-D float32 array; `out`
is a float32 array of the result's shape to write into instead of a new one."""
from typing import List, Optional, Tuple, TypedDict, Union

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

# trace_csi_open gives plain dicts; these types of them exist in the stub only (hence private).
class _TracedCall(TypedDict):
    """One system call of a traced open, with its result."""
    call: str  # open, close, ioctl, mmap, munmap, fstat, listDirectory, readlink, readLines, stat
    request: str  # ioctl only: the request's name (VIDIOC_..., MEDIA_IOC_..., I2C_...) or 0x...
    path: str  # the path named, or the path the descriptor was opened with
    result: int
    errno: int  # errno of a failed call, else 0
    detail: str  # what an enumerated media entity was called

class _CsiOpenTrace(TypedDict):
    """The outcome of trace_csi_open."""
    model_text: str  # the device tree's model line
    board_model: int  # the code board_model() gives
    device_path: str  # /dev/video<index>
    open_status: int  # 0 when the camera opened
    start_status: Optional[int]  # None when the stream was not started
    width: int
    height: int
    bit_width: int
    calls: List[_TracedCall]
    open_call_count: int  # how many of the calls the open made

def trace_csi_open(index: int, start: bool = True) -> _CsiOpenTrace:
    """Opens the CSI camera /dev/video<index> as the camera does (and starts and stops its
    stream when `start`), recording every system call; a dict of the outcome."""
def board_model() -> int:
    """The board model code the camera's device-tree probe finds on this system."""
def system_stat(path: str) -> Union[Tuple[int, int, int, int], int]:
    """(mode, gid, major, minor) of a path on this system (simulated or real), or -errno."""
def system_read_lines(path: str, max_lines: int = 256) -> Union[List[str], int]:
    """The lines of a text file on this system (simulated or real), or -errno."""
def system_list_directory(path: str) -> Union[List[str], int]:
    """The entries of a directory on this system (simulated or real), or -errno."""
