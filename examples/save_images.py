#!/usr/bin/python3
"""Captures a few depth frames and writes colorised depth and amplitude images of the last.

    PYTHONPATH=build/python /usr/bin/python3 examples/save_images.py --output images/
"""
import argparse
import os
import sys

import QuarvelDepthCamera as qdc
from quarvel_tools import cli, frame_statistics, images


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    # The first frames after a start can come before the exposure has settled.
    cli.add_camera_arguments(parser, frames=10)
    parser.add_argument("--output", metavar="DIR", default=".",
                        help="directory for depth.png and amplitude.png (default: here)")
    parser.add_argument("--min-amplitude", type=float,
                        default=frame_statistics.DEFAULT_MIN_AMPLITUDE,
                        help="amplitude below which a depth pixel is drawn black")
    args = parser.parse_args(argv)
    if args.frames < 1:
        parser.error("--frames must be at least 1")

    camera = cli.open_camera(args)
    with cli.streaming(camera, qdc.TOFOutput.DEPTH):
        for frame in cli.frames(camera, args.frames, args.timeout):
            depth = frame.getDepthData()
            amplitude = frame.getAmplitudeData()

    valid = frame_statistics.valid_mask(depth, amplitude, args.min_amplitude)
    print(images.save_depth_image(depth, valid, os.path.join(args.output, "depth.png")))
    print(images.save_amplitude_image(amplitude, os.path.join(args.output, "amplitude.png")))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except cli.CameraError as error:
        sys.exit(f"save_images: {error}")
    except KeyboardInterrupt:
        sys.exit("save_images: interrupted")
