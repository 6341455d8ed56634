#!/usr/bin/python3
"""Captures raw frames (12-bit sensor samples in int16 words) and prints what each holds;
optionally saves the last frame as a numpy file.

    PYTHONPATH=build/python /usr/bin/python3 examples/capture_raw.py --frames 5 --save raw.npy
"""
import argparse
import sys

import numpy as np

import QuarvelDepthCamera as qdc
from quarvel_tools import cli


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    cli.add_camera_arguments(parser, frames=10)
    parser.add_argument("--save", metavar="FILE.npy", help="save the last raw frame here")
    args = parser.parse_args(argv)

    camera = cli.open_camera(args)
    raw = None
    with cli.streaming(camera, qdc.TOFOutput.RAW):
        for number, frame in enumerate(cli.frames(camera, args.frames, args.timeout), 1):
            frame_format = frame.getFrameFormat()
            raw = frame.getRawData()
            print(f"frame {number:4d}  time {frame_format.timestamp:>12d}  "
                  f"{frame_format.width}x{frame_format.height} {raw.dtype}  "
                  f"min {raw.min():6d}  max {raw.max():6d}  mean {raw.mean():9.2f}", flush=True)

    if args.save and raw is not None:
        np.save(args.save, raw)
        print(f"Wrote {args.save}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except cli.CameraError as error:
        sys.exit(f"capture_raw: {error}")
    except KeyboardInterrupt:
        sys.exit("capture_raw: interrupted")
