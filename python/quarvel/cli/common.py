"""What the subcommands share: the camera arguments, opening a camera with a one-sentence
error, the colour maps of depth and amplitude, and progress lines."""
from __future__ import annotations

import argparse
import contextlib
import os
import sys
import tempfile
import time
from typing import Iterator, List, Optional, Sequence

import numpy as np
import numpy.typing as npt

import QuarvelDepthCamera as qdc

# Exit codes scripts can test.
EXIT_OK = 0
EXIT_FAILURE = 1       # the camera would not open, or failed while running
EXIT_USAGE = 2         # a wrong command line (argparse's own code)
EXIT_PROBLEM_FOUND = 3  # doctor: the camera cannot be used as the board is set up
EXIT_INTERRUPTED = 130

SUCCESS = qdc.TOFErrorCode.QuarvelSuccess

FloatArray = npt.NDArray[np.float32]
Image = npt.NDArray[np.uint8]  # height x width x 3 RGB


class CommandError(Exception):
    """A failure the command reports as one sentence (its message) and exit code 1."""


def add_camera_arguments(parser: argparse.ArgumentParser) -> None:
    """--connect, --index and --config, as every subcommand that opens a camera takes them."""
    parser.add_argument("--connect", choices=["usb", "csi"], default="usb",
                        help="how the camera is attached (default usb; USB camera 0 is the "
                             "built-in simulated camera when no real one is present)")
    parser.add_argument("--index", type=int, default=0,
                        help="video node number (csi) or device number (usb); default 0")
    parser.add_argument("--config", metavar="FILE",
                        help="a simulated-camera description (or USB configuration) file")


def describe_source(args: argparse.Namespace) -> str:
    """Words for the camera the arguments name, for messages."""
    if args.config:
        return f"the USB camera described by {args.config}"
    if args.connect == "csi":
        return f"the CSI camera /dev/video{args.index}"
    return f"USB camera {args.index}"


@contextlib.contextmanager
def quiet_native_stderr() -> Iterator[List[str]]:
    """Keeps what the library writes to standard error during the block out of the terminal;
    the yielded list receives those lines afterwards."""
    captured: List[str] = []
    sys.stderr.flush()
    saved = os.dup(2)
    with tempfile.TemporaryFile(mode="w+b") as sink:
        os.dup2(sink.fileno(), 2)
        try:
            yield captured
        finally:
            os.dup2(saved, 2)
            os.close(saved)
            sink.seek(0)
            captured.extend(sink.read().decode("utf-8", "replace").splitlines())


def open_camera(args: argparse.Namespace) -> qdc.QuarvelCamera:
    """The camera the arguments name, opened; CommandError (one sentence) when it will not."""
    if args.config:
        if args.connect != "usb":
            raise CommandError("--config describes a USB camera; leave out --connect csi.")
        if not os.path.isfile(args.config):
            raise CommandError(f"cannot open {describe_source(args)}: no such file.")
    if args.index < 0:
        raise CommandError("--index must be 0 or more.")
    camera = qdc.QuarvelCamera()
    with quiet_native_stderr() as messages:
        if args.config:
            status = camera.openWithFile(args.config, args.index)
        else:
            connection = qdc.TOFConnect.CSI if args.connect == "csi" else qdc.TOFConnect.USB
            status = camera.open(connection, args.index)
    if status != SUCCESS:
        camera.close()
        why = _reason(messages)
        hint = " (run `quarvel doctor` to find out why)" if args.connect == "csi" else ""
        raise CommandError(f"cannot open {describe_source(args)}: {why}{hint}.")
    return camera


def _reason(messages: Sequence[str]) -> str:
    """The library's own words for a failed open, made into part of a sentence."""
    for line in messages:
        text = line.strip()
        for prefix in ("Error: ", "quarvel_evk_sdk: cannot open camera: "):
            if text.startswith(prefix):
                text = text[len(prefix):]
        text = text.rstrip(".!")
        if text:
            # "Could not ..." reads on after a colon; "I2C ..." keeps its capitals.
            lower = len(text) > 1 and text[1].islower()
            return (text[0].lower() if lower else text[0]) + text[1:]
    return "the library refused it without saying why"


def check(status: qdc.TOFErrorCode, action: str) -> None:
    """CommandError unless `status` is success."""
    if status != SUCCESS:
        raise CommandError(f"{action} failed: {status.str()} (code {int(status)}).")


@contextlib.contextmanager
def depth_stream(camera: qdc.QuarvelCamera) -> Iterator[qdc.QuarvelCamera]:
    """A running depth stream; stopped and the camera closed however the block ends."""
    try:
        check(camera.start(qdc.TOFOutput.DEPTH), "starting the depth stream")
        try:
            yield camera
        finally:
            camera.stop()
    finally:
        camera.close()


class Frame:
    """Copies of one depth frame's planes (None for a plane not taken) and its timestamp (ms)."""

    __slots__ = ("depth", "amplitude", "confidence", "timestamp")

    def __init__(self, depth: Optional[FloatArray], amplitude: Optional[FloatArray],
                 confidence: Optional[FloatArray], timestamp: float) -> None:
        self.depth = depth
        self.amplitude = amplitude
        self.confidence = confidence
        self.timestamp = timestamp


def take_frame(camera: qdc.QuarvelCamera, timeout_ms: int = 3000,
               planes: Sequence[str] = ("depth", "amplitude", "confidence")) -> Frame:
    """The next frame's planes (only those named are copied); CommandError after the timeout."""
    frame = camera.requestFrame(timeout_ms)
    if frame is None:
        raise CommandError(f"the camera sent no frame within {timeout_ms} ms.")
    try:
        if not isinstance(frame, qdc.DepthData):
            raise CommandError("the camera sent a frame without depth.")
        depth = frame.getDepthData() if "depth" in planes else None
        amplitude = frame.getAmplitudeData() if "amplitude" in planes else None
        confidence = frame.getConfidenceData() if "confidence" in planes else None
        timestamp = float(frame.getFrameFormat().timestamp)
    finally:
        camera.releaseFrame(frame)
    return Frame(depth, amplitude, confidence, timestamp)


class DropCounter:
    """Frames the camera dropped, seen as gaps in the timestamps: a gap of n frame periods
    means n - 1 frames were lost."""

    def __init__(self) -> None:
        self.previous: Optional[float] = None
        self.period: Optional[float] = None
        self.dropped = 0

    def add(self, timestamp_ms: float) -> None:
        if self.previous is not None:
            gap = timestamp_ms - self.previous
            if gap > 0:
                # The shortest gap seen is the frame period (a drop only lengthens gaps).
                self.period = gap if self.period is None else min(self.period, gap)
                missed = int(round(gap / self.period)) - 1
                if missed > 0:
                    self.dropped += missed
        self.previous = timestamp_ms


# Colour maps: (position 0..1, red, green, blue) anchors, interpolated linearly into 256
# entries. The viewer gets the same anchors, so its colours match the captured PNGs.
DEPTH_ANCHORS = [(0.0, 250, 230, 40), (0.25, 120, 210, 80), (0.5, 35, 160, 135),
                 (0.75, 50, 90, 160), (1.0, 70, 10, 90)]
AMPLITUDE_ANCHORS = [(0.0, 0, 0, 4), (0.3, 110, 20, 110), (0.6, 230, 80, 40),
                     (1.0, 252, 255, 165)]


def palette(anchors: Sequence[Sequence[float]]) -> Image:
    """A 256 x 3 uint8 table interpolated between the anchors."""
    positions = np.linspace(0.0, 1.0, 256)
    stops = np.array([anchor[0] for anchor in anchors])
    table = np.empty((256, 3), np.uint8)
    for channel in range(3):
        values = np.array([anchor[channel + 1] for anchor in anchors], float)
        table[:, channel] = np.round(np.interp(positions, stops, values)).astype(np.uint8)
    return table


def colourise(plane: FloatArray, low: float, high: float, anchors: Sequence[Sequence[float]],
              valid: Optional[npt.NDArray[np.bool_]] = None) -> Image:
    """height x width x 3 uint8: `plane` from `low` to `high` through the colour map; pixels
    outside `valid` (and non-finite ones) black."""
    table = palette(anchors)
    span = max(high - low, 1e-6)
    finite = np.isfinite(plane)
    scaled = np.where(finite, (plane - low) / span, 0.0)
    index = np.clip(np.round(scaled * 255.0), 0, 255).astype(np.uint8)
    image: Image = table[index]
    mask = finite if valid is None else (finite & valid)
    image[~mask] = 0
    return image


def progress(message: str) -> None:
    """One progress line on standard error, overwritten by the next."""
    sys.stderr.write("\r" + message)
    sys.stderr.flush()


def end_progress() -> None:
    sys.stderr.write("\n")
    sys.stderr.flush()


def now_ms() -> float:
    return time.monotonic() * 1000.0
