#!/usr/bin/python3
"""Turns depth frames into a filtered point cloud and writes it as a binary PLY file (with
amplitude), optionally with a rendered picture of it.

Runs against the built-in simulated camera when no real one is present:
    PYTHONPATH=build/python /usr/bin/python3 examples/point_cloud.py --output cloud.ply \\
        --picture cloud.png
"""
import argparse
import sys

import numpy as np

import quarvel
from quarvel import geometry


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--camera", default="usb:0",
                        help="'usb:N', 'csi:N' or a simulated-camera description file")
    parser.add_argument("--calibration", metavar="YAML",
                        help="camera_info file with the lens intrinsics (else nominal values)")
    parser.add_argument("--frames", type=int, default=5,
                        help="frames smoothed over time before the cloud is made")
    parser.add_argument("--min-amplitude", type=float, default=150.0)
    parser.add_argument("--output", default="cloud.ply", help="PLY file to write")
    parser.add_argument("--picture", metavar="PNG", help="also render the cloud into a picture")
    args = parser.parse_args(argv)

    try:
        camera = quarvel.open(args.camera)
    except (quarvel.QuarvelError, FileNotFoundError, ValueError) as error:
        print(f"cannot open {args.camera}: {error}", file=sys.stderr)
        return 1
    with camera:
        width, height = camera.size
        intrinsics = geometry.intrinsics_for(width, height, args.calibration)
        cloud = geometry.PointCloud(intrinsics)  # ray table made once, reused per frame
        temporal = geometry.TemporalFilter(width, height, 0.4, 100.0)
        # Buffers made once: the filters write into them frame after frame.
        confident, solid, smoothed = (np.empty((height, width), np.float32) for _ in range(3))
        for frame in camera.frames(count=args.frames):
            geometry.threshold_by_confidence(frame.depth, frame.amplitude, args.min_amplitude,
                                             out=confident)
            geometry.remove_flying_pixels(confident, 0.05, out=solid)
            temporal.apply(solid, out=smoothed)
            amplitude = frame.amplitude
    points, amplitudes = geometry.point_cloud(smoothed, cloud, units="m", organised=False,
                                              amplitude=amplitude)
    written = geometry.write_ply(args.output, points, amplitudes)
    print(f"{written} points of {width}x{height} written to {args.output} "
          f"(fx {intrinsics.fx:.1f}, fy {intrinsics.fy:.1f}, "
          f"cx {intrinsics.cx:.1f}, cy {intrinsics.cy:.1f})")
    if args.picture:
        render(points, amplitudes, args.picture)
        print(f"picture written to {args.picture}")
    return 0


def render(points, amplitudes, path):
    """A view from above and to the side of the camera, coloured by amplitude."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure = plt.figure(figsize=(8, 6), dpi=100)
    axes = figure.add_subplot(projection="3d")
    step = max(1, len(points) // 40000)
    shown, colour = points[::step], amplitudes[::step]
    # Camera frame (x right, y down, z ahead) drawn with z ahead and up as up.
    axes.scatter(shown[:, 0], shown[:, 2], -shown[:, 1], c=np.log1p(colour), s=0.5,
                 cmap="viridis", linewidths=0)
    axes.scatter([0], [0], [0], c="red", s=30, marker="^")
    axes.set_xlabel("x (m)")
    axes.set_ylabel("z (m)")
    axes.set_zlabel("up (m)")
    axes.view_init(elev=22, azim=-62)
    axes.set_box_aspect((np.ptp(shown[:, 0]), np.ptp(shown[:, 2]), np.ptp(shown[:, 1])))
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)


if __name__ == "__main__":
    sys.exit(main())
