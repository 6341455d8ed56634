"""Colorised images of depth and amplitude planes, written with matplotlib."""
import os

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402  (after the backend choice)
import numpy as np  # noqa: E402


def save_plane_image(plane: np.ndarray, path: str, title: str, unit: str, colormap: str,
                     valid: np.ndarray = None, limits=None) -> str:
    """Writes `plane` as a colorised PNG with a colour bar; invalid pixels are black.

    `limits` is (low, high) for the colour scale; by default the valid values' 1st and 99th
    percentiles. Returns the path written."""
    values = np.ma.masked_array(plane, mask=~valid if valid is not None else None)
    if limits is None:
        shown = values.compressed()
        limits = (np.percentile(shown, 1), np.percentile(shown, 99)) if shown.size else (0, 1)
    cmap = matplotlib.colormaps[colormap].copy()
    cmap.set_bad("black")
    rows, columns = plane.shape
    figure, axes = plt.subplots(figsize=(6.4, 6.4 * rows / columns + 0.6), dpi=100)
    try:
        image = axes.imshow(values, cmap=cmap, vmin=limits[0], vmax=limits[1],
                            interpolation="nearest")
        axes.set_title(title)
        axes.set_axis_off()
        figure.colorbar(image, ax=axes, label=unit, fraction=0.046, pad=0.04)
        directory = os.path.dirname(path)
        if directory:
            os.makedirs(directory, exist_ok=True)
        figure.savefig(path, bbox_inches="tight")
    finally:
        plt.close(figure)
    return path


def save_depth_image(depth: np.ndarray, valid: np.ndarray, path: str) -> str:
    """Depth in millimetres, near in yellow, far in blue; invalid pixels black."""
    return save_plane_image(depth, path, "Depth", "mm", "viridis_r", valid=valid)


def save_amplitude_image(amplitude: np.ndarray, path: str) -> str:
    """Amplitude of the returned light, dark to bright."""
    return save_plane_image(amplitude, path, "Amplitude", "amplitude", "inferno")
