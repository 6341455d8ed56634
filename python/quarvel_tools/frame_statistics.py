"""What the examples report about depth frames: valid pixels, centre distance, frame rate."""
import time

import numpy as np

# Read noise alone gives the 240x180 sensor amplitudes of up to about 110 with no light
# returned at all; above 150 the phase carries a signal.
DEFAULT_MIN_AMPLITUDE = 150.0
CENTRE_WINDOW = 5


def valid_mask(depth: np.ndarray, amplitude: np.ndarray,
               min_amplitude: float = DEFAULT_MIN_AMPLITUDE) -> np.ndarray:
    """Pixels whose depth can be trusted: finite, positive, and lit well enough.

    The 240x180 processing gives every pixel a value; where little light came back the phase
    is noise, so the amplitude decides."""
    return np.isfinite(depth) & (depth > 0) & (amplitude >= min_amplitude)


def valid_share(valid: np.ndarray) -> float:
    """Share of valid pixels, 0..1."""
    return float(np.count_nonzero(valid)) / valid.size if valid.size else 0.0


def centre_distance(depth: np.ndarray, valid: np.ndarray, window: int = CENTRE_WINDOW) -> float:
    """Median depth of the valid pixels in a window at the image centre, NaN if none."""
    rows, columns = depth.shape
    top = max(rows // 2 - window // 2, 0)
    left = max(columns // 2 - window // 2, 0)
    patch = depth[top:top + window, left:left + window]
    usable = patch[valid[top:top + window, left:left + window]]
    return float(np.median(usable)) if usable.size else float("nan")


class RateMeter:
    """Counts frames and reports the rate once per interval of wall time."""

    def __init__(self, interval_s: float = 1.0, clock=time.monotonic):
        self.interval = interval_s
        self.clock = clock
        self.window_start = clock()
        self.started = self.window_start
        self.window_frames = 0
        self.total_frames = 0

    def tick(self):
        """Counts one frame; returns the rate of the interval that just ended, else None."""
        self.window_frames += 1
        self.total_frames += 1
        now = self.clock()
        elapsed = now - self.window_start
        if elapsed < self.interval:
            return None
        rate = self.window_frames / elapsed
        self.window_start = now
        self.window_frames = 0
        return rate

    def elapsed(self) -> float:
        return self.clock() - self.started

    def average(self) -> float:
        elapsed = self.elapsed()
        return self.total_frames / elapsed if elapsed > 0 else 0.0
