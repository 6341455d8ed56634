"""The depth filters of quarvel.geometry per frame, next to numpy (and OpenCV where it has the
same filter) implementations of the same rule. Prints a table; main() returns the rows.

    PYTHONPATH=build/python /usr/bin/python3 bench/filter_baselines.py [--json]
"""
import sys
import time

import numpy as np

from quarvel import geometry

SIZES = ((240, 180), (640, 480))


def synthetic_depth(width, height, seed=1):
    """A wall, a box and a sphere-like bump with noise and a few holes (millimetres)."""
    rng = np.random.default_rng(seed)
    rows, columns = np.mgrid[0:height, 0:width]
    depth = np.full((height, width), 3000.0) - 2.0 * rows
    box = (abs(columns - width * 0.3) < width * 0.12) & (abs(rows - height * 0.55) < height * 0.2)
    depth[box] = 1700.0
    bump = (columns - width * 0.7) ** 2 + (rows - height * 0.5) ** 2 < (height * 0.2) ** 2
    depth[bump] = 1250.0
    depth += rng.normal(0, 8, depth.shape)
    depth[rng.random(depth.shape) < 0.01] = 0
    amplitude = rng.uniform(50, 1000, depth.shape)
    return depth.astype(np.float32), amplitude.astype(np.float32)


def shifted(padded, dy, dx, height, width, radius):
    return padded[radius + dy:radius + dy + height, radius + dx:radius + dx + width]


def numpy_flying(depth, step=0.05):
    height, width = depth.shape
    padded = np.pad(depth, 1)
    far = {}
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            n = shifted(padded, dy, dx, height, width, 1)
            far[dy, dx] = (n > 0) & (np.abs(n - depth) > step * depth)
    flying = np.zeros(depth.shape, bool)
    for dy, dx in ((0, 1), (1, 0), (1, 1), (1, -1)):
        flying |= far[dy, dx] & far[-dy, -dx]
    return np.where(flying, np.float32(0), depth)


def numpy_smooth(depth, radius=2, max_step=30.0):
    height, width = depth.shape
    padded = np.pad(depth, radius)
    sums = np.zeros_like(depth)
    counts = np.zeros_like(depth)
    for dy in range(-radius, radius + 1):
        for dx in range(-radius, radius + 1):
            n = shifted(padded, dy, dx, height, width, radius)
            close = (n > 0) & (np.abs(n - depth) <= max_step)
            sums += np.where(close, n, 0)
            counts += close
    return np.where(depth > 0, sums / np.maximum(counts, 1), 0).astype(np.float32)


def numpy_fill(depth, min_neighbours=5):
    height, width = depth.shape
    padded = np.pad(depth, 1)
    neighbours = np.stack([shifted(padded, dy, dx, height, width, 1)
                           for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx])
    enough = (neighbours > 0).sum(axis=0) >= min_neighbours
    return np.where(depth > 0, depth, np.where(enough, neighbours.max(axis=0), 0))


def numpy_median(depth):
    height, width = depth.shape
    padded = np.pad(depth, 1, mode="edge")
    return np.sort(np.stack([shifted(padded, dy, dx, height, width, 1)
                             for dy in (-1, 0, 1) for dx in (-1, 0, 1)]), axis=0)[4]


class NumpyTemporal:
    def __init__(self, alpha=0.4, jump=100.0):
        self.alpha, self.jump, self.history = np.float32(alpha), np.float32(jump), None

    def apply(self, depth):
        if self.history is None:
            self.history = depth.copy()
            return self.history
        h = self.history
        keep = (depth > 0) & (h > 0) & (np.abs(depth - h) <= self.jump)
        self.history = np.where(keep, h + self.alpha * (depth - h), depth)
        return self.history


def median_seconds(function, repeats=7, budget=0.05):
    function()
    loops = 1
    while True:
        start = time.perf_counter()
        for _ in range(loops):
            function()
        if time.perf_counter() - start > budget / 5 or loops > 100000:
            break
        loops *= 2
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(loops):
            function()
        times.append((time.perf_counter() - start) / loops)
    return sorted(times)[len(times) // 2]


def main():
    try:
        import cv2
    except ImportError:
        cv2 = None
    rows = []
    for width, height in SIZES:
        depth, amplitude = synthetic_depth(width, height)
        out = np.empty_like(depth)
        native_temporal = geometry.TemporalFilter(width, height, 0.4, 100.0)
        numpy_temporal = NumpyTemporal()
        cases = [
            ("confidence threshold",
             lambda: geometry.threshold_by_confidence(depth, amplitude, 150.0, out),
             lambda: np.where(amplitude >= 150, depth, np.float32(0)), None),
            ("flying pixels",
             lambda: geometry.remove_flying_pixels(depth, 0.05, out),
             lambda: numpy_flying(depth), None),
            ("temporal",
             lambda: native_temporal.apply(depth, out),
             lambda: numpy_temporal.apply(depth), None),
            ("edge-preserving 5x5",
             lambda: geometry.smooth_preserving_edges(depth, 2, 30.0, out),
             lambda: numpy_smooth(depth), None),
            ("hole filling",
             lambda: geometry.fill_holes(depth, 5, out),
             lambda: numpy_fill(depth), None),
            ("median 3x3",
             lambda: geometry.median3x3(depth, out),
             lambda: numpy_median(depth),
             (lambda: cv2.medianBlur(depth, 3)) if cv2 is not None else None),
        ]
        for name, native, numpy_version, opencv_version in cases:
            ours = median_seconds(native)
            baseline = median_seconds(numpy_version)
            opencv = median_seconds(opencv_version) if opencv_version else None
            rows.append({"filter": name, "size": f"{width}x{height}", "quarvel_us": ours * 1e6,
                         "numpy_us": baseline * 1e6,
                         "opencv_us": None if opencv is None else opencv * 1e6})
    return rows


def table(rows):
    lines = ["| Filter | Frame | quarvel (C++) | numpy | ratio | OpenCV | ratio |",
             "|---|---|---|---|---|---|---|"]
    for r in rows:
        opencv = "-" if r["opencv_us"] is None else f"{r['opencv_us']:.1f} us"
        opencv_ratio = "-" if r["opencv_us"] is None else f"{r['opencv_us'] / r['quarvel_us']:.1f}x"
        lines.append(f"| {r['filter']} | {r['size']} | {r['quarvel_us']:.1f} us | "
                     f"{r['numpy_us']:.1f} us | {r['numpy_us'] / r['quarvel_us']:.1f}x | "
                     f"{opencv} | {opencv_ratio} |")
    return "\n".join(lines)


if __name__ == "__main__":
    measured = main()
    if "--json" in sys.argv[1:]:
        import json
        print(json.dumps(measured))
    else:
        print(table(measured))
