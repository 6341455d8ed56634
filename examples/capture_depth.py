#!/usr/bin/python3
"""Captures depth frames and prints, every second, the frame rate, the distance at the image
centre and the share of valid pixels; optionally writes colorised images of the last frame.

Runs against USB camera 0, which is the built-in simulated camera when no real one is present:
    PYTHONPATH=build/python /usr/bin/python3 examples/capture_depth.py --frames 150
"""
import argparse
import math
import os
import sys

import QuarvelDepthCamera as qdc
from quarvel_tools import cli, frame_statistics, images


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    cli.add_camera_arguments(parser, frames=150)
    parser.add_argument("--min-amplitude", type=float,
                        default=frame_statistics.DEFAULT_MIN_AMPLITUDE,
                        help="amplitude below which a pixel counts as invalid")
    parser.add_argument("--images", metavar="DIR",
                        help="write depth.png and amplitude.png of the last frame into DIR")
    args = parser.parse_args(argv)

    camera = cli.open_camera(args)
    info = camera.getCameraInfo()
    print(f"Camera: {info.connect.name} {info.index}, {info.device_type.name} sensor "
          f"{info.width}x{info.height}, {info.bit_width}-bit samples")

    meter = frame_statistics.RateMeter()
    depth = amplitude = valid = None
    with cli.streaming(camera, qdc.TOFOutput.DEPTH):
        for frame in cli.frames(camera, args.frames, args.timeout):
            # Copies: they outlive the frame's release at the end of this step.
            depth = frame.getDepthData()
            amplitude = frame.getAmplitudeData()
            valid = frame_statistics.valid_mask(depth, amplitude, args.min_amplitude)
            rate = meter.tick()
            if rate is not None:
                centre = frame_statistics.centre_distance(depth, valid)
                centre_text = "no valid pixel" if math.isnan(centre) else f"{centre:7.1f} mm"
                print(f"{meter.elapsed():6.1f} s  {rate:5.1f} fps  centre {centre_text}  "
                      f"valid {100 * frame_statistics.valid_share(valid):5.1f} %", flush=True)

    print(f"{meter.total_frames} frames in {meter.elapsed():.1f} s "
          f"({meter.average():.1f} fps on average)")
    if args.images and depth is not None:
        for path in (images.save_depth_image(depth, valid, os.path.join(args.images, "depth.png")),
                     images.save_amplitude_image(amplitude,
                                                 os.path.join(args.images, "amplitude.png"))):
            print(f"Wrote {path}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except cli.CameraError as error:
        sys.exit(f"capture_depth: {error}")
    except KeyboardInterrupt:
        sys.exit("capture_depth: interrupted")
