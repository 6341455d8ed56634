"""Command line of the example programs: which camera to open, and how to open it."""
import argparse
import contextlib

import QuarvelDepthCamera as qdc

CONNECTIONS = {"csi": qdc.TOFConnect.CSI, "usb": qdc.TOFConnect.USB}
DEFAULT_TIMEOUT_MS = 2000


class CameraError(RuntimeError):
    """The camera refused a call; the message says which and why."""


def add_camera_arguments(parser: argparse.ArgumentParser, frames: int) -> None:
    """Adds --connect, --index, --config and --frames (0 means until Ctrl-C)."""
    parser.add_argument("--connect", choices=sorted(CONNECTIONS), default="usb",
                        help="how the camera is attached (default: usb; USB camera 0 is "
                             "the built-in simulated camera when no real one is present)")
    parser.add_argument("--index", type=int, default=0,
                        help="video node number (csi) or device number (usb); default 0")
    parser.add_argument("--config", metavar="FILE",
                        help="configuration file for a USB camera (opens it with openWithFile)")
    parser.add_argument("--frames", type=int, default=frames,
                        help=f"frames to capture, 0 for no limit (default {frames})")
    parser.add_argument("--timeout", type=int, default=DEFAULT_TIMEOUT_MS, metavar="MS",
                        help=f"longest wait for one frame (default {DEFAULT_TIMEOUT_MS} ms)")


def check(status, what: str) -> None:
    """Raises CameraError unless `status` is QuarvelSuccess."""
    if status != qdc.TOFErrorCode.QuarvelSuccess:
        raise CameraError(f"{what} failed: {status.str()} (code {int(status)})")


def open_camera(args: argparse.Namespace) -> qdc.QuarvelCamera:
    """A camera opened as the command line says."""
    camera = qdc.QuarvelCamera()
    if args.config:
        if args.connect != "usb":
            raise CameraError("--config applies to USB cameras only")
        check(camera.openWithFile(args.config, args.index),
              f"opening USB camera {args.index} with {args.config}")
    else:
        check(camera.open(CONNECTIONS[args.connect], args.index),
              f"opening {args.connect.upper()} camera {args.index}")
    return camera


@contextlib.contextmanager
def streaming(camera: qdc.QuarvelCamera, output: qdc.TOFOutput):
    """Starts a stream of `output`; stops and closes the camera however the block ends."""
    try:
        check(camera.start(output), f"starting the {output.name} stream")
        try:
            yield camera
        finally:
            camera.stop()
    finally:
        camera.close()


def frames(camera: qdc.QuarvelCamera, count: int, timeout_ms: int):
    """Yields `count` frames (0: without end), releasing each when the loop moves on.

    Arrays taken from a frame are copies and stay valid after the release; the frame itself
    must not be used after the loop has moved on."""
    delivered = 0
    while count == 0 or delivered < count:
        frame = camera.requestFrame(timeout_ms)
        if frame is None:
            raise CameraError(f"no frame within {timeout_ms} ms")
        try:
            yield frame
        finally:
            camera.releaseFrame(frame)
        delivered += 1
