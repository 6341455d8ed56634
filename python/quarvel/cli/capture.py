"""quarvel capture: frames as colourised PNGs, NPY arrays or PLY point clouds."""
from __future__ import annotations

import argparse
import os
from typing import List, Tuple

import numpy as np
import numpy.typing as npt

from quarvel import geometry
from quarvel.cli import common
from quarvel.cli.png import write_png

# Below this amplitude the phase is noise (240x180 read noise reaches about 110).
MIN_AMPLITUDE = 150.0


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "capture", help="save frames as PNG images, NPY arrays or PLY point clouds",
        description="Captures N depth frames and writes one file per frame and plane: "
                    "png (colourised depth and amplitude), npy (depth in mm, amplitude, "
                    "confidence as float32) or ply (binary point cloud in metres).")
    common.add_camera_arguments(parser)
    parser.add_argument("--frames", type=int, default=1, help="frames to capture (default 1)")
    parser.add_argument("--format", choices=["png", "npy", "ply"], default="png")
    parser.add_argument("--output", metavar="DIR", default=".",
                        help="directory for the files (created if missing; default .)")
    parser.set_defaults(run=run)


def depth_limits(depth: common.FloatArray, valid: npt.NDArray[np.bool_]) -> Tuple[float, float]:
    """Colour scale of a depth image: the valid depths' 1st to 99th percentile."""
    shown = depth[valid]
    if shown.size == 0:
        return 0.0, 1.0
    return float(np.percentile(shown, 1)), float(np.percentile(shown, 99))


def save_frame(frame: common.Frame, number: int, output: str, kind: str,
               intrinsics: "geometry.Intrinsics") -> List[str]:
    """Writes one frame's files (the frame holds every plane); their paths."""
    assert frame.depth is not None and frame.amplitude is not None
    stem = os.path.join(output, f"frame-{number:04d}")
    written: List[str] = []
    if kind == "npy":
        for name in ("depth", "amplitude", "confidence"):
            path = f"{stem}-{name}.npy"
            np.save(path, getattr(frame, name))
            written.append(path)
    elif kind == "png":
        valid = np.isfinite(frame.depth) & (frame.depth > 0) & (frame.amplitude >= MIN_AMPLITUDE)
        low, high = depth_limits(frame.depth, valid)
        depth_image = common.colourise(frame.depth, low, high, common.DEPTH_ANCHORS, valid)
        write_png(f"{stem}-depth.png", depth_image)
        amplitude = frame.amplitude[np.isfinite(frame.amplitude)]
        top = float(np.percentile(amplitude, 99)) if amplitude.size else 1.0
        write_png(f"{stem}-amplitude.png",
                  common.colourise(frame.amplitude, 0.0, top, common.AMPLITUDE_ANCHORS))
        written += [f"{stem}-depth.png", f"{stem}-amplitude.png"]
    else:
        points = geometry.point_cloud(frame.depth, intrinsics, organised=False,
                                      amplitude=frame.amplitude)
        path = f"{stem}-points.ply"
        if isinstance(points, tuple):
            geometry.write_ply(path, points[0], points[1])
        else:
            geometry.write_ply(path, points)
        written.append(path)
    return written


def run(args: argparse.Namespace) -> int:
    if args.frames < 1:
        raise common.CommandError("--frames must be 1 or more.")
    os.makedirs(args.output, exist_ok=True)
    camera = common.open_camera(args)
    written: List[str] = []
    with common.depth_stream(camera):
        info = camera.getCameraInfo()
        intrinsics = geometry.intrinsics_for(info.width, info.height)
        for number in range(args.frames):
            frame = common.take_frame(camera)
            written += save_frame(frame, number, args.output, args.format, intrinsics)
            common.progress(f"frame {number + 1} of {args.frames}")
    common.end_progress()
    print(f"wrote {len(written)} files for {args.frames} frames to {args.output}")
    return common.EXIT_OK
