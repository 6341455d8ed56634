"""What the simulated camera knows exactly: its lens and where its scene's shapes are.

Ground truth for tests and examples (see docs/simulated-camera.md for the scenes)."""
import math
from typing import Dict, Tuple, Union

from ._native import Intrinsics

HORIZONTAL_FOV_DEGREES = 64.0
SIZES: Dict[str, Tuple[int, int]] = {"hqvga": (240, 180), "vga": (640, 480)}

# The standard scene in camera coordinates (mm): x right, y down, z along the axis.
BACK_WALL_Z_MM = 3000.0
SPHERE_CENTRE_MM = (450.0, 270.0, 1250.0)
SPHERE_RADIUS_MM = 280.0
BOX_CENTRE_MM = (-520.0, 289.0, 1700.0)
BOX_HALF_SIZE_MM = 225.0
BOX_YAW_DEGREES = 25.0
NEAR_SCALE = 0.3


def exact_intrinsics(sensor: str = "hqvga") -> Intrinsics:
    """The simulated lens: an ideal pinhole 64 degrees across, square pixels, axis through
    the image centre (pixel centres at whole numbers), no distortion. `sensor` is "hqvga"
    (240x180) or "vga" (640x480); any other name raises KeyError."""
    width, height = SIZES[sensor]
    focal = width / 2 / math.tan(math.radians(HORIZONTAL_FOV_DEGREES / 2))
    return Intrinsics(width, height, focal, focal, width / 2 - 0.5, height / 2 - 0.5)


def description(**settings: Union[str, int, float]) -> str:
    """The text of a simulated-camera description: one "key = value" line per keyword, in the
    order given (see docs/simulated-camera.md for the keys)."""
    return "".join(f"{key} = {value}\n" for key, value in settings.items())
