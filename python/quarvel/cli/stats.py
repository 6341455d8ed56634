"""quarvel stats: frame rate, latency, drops and depth statistics live in the terminal."""
from __future__ import annotations

import argparse
import time
from typing import List

import numpy as np

from quarvel.cli import common

MIN_AMPLITUDE = 150.0


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "stats", help="frame rate, latency, drops and depth statistics, live",
        description="Streams depth and prints, once a second, the frame rate, the latency "
                    "(how long after its timestamp a frame reached this program; shown only "
                    "when the camera stamps frames on the system's monotonic clock), the "
                    "frames the camera dropped and the valid depths' statistics.")
    common.add_camera_arguments(parser)
    parser.add_argument("--frames", type=int, default=0, help="stop after N frames (0: Ctrl-C)")
    parser.add_argument("--seconds", type=float, default=0.0, help="stop after S seconds")
    parser.set_defaults(run=run)


def depth_summary(depth: common.FloatArray, amplitude: common.FloatArray) -> str:
    valid = np.isfinite(depth) & (depth > 0) & (amplitude >= MIN_AMPLITUDE)
    shown = depth[valid]
    if shown.size == 0:
        return "no valid depth"
    return (f"depth min {shown.min():.0f} median {np.median(shown):.0f} max {shown.max():.0f} "
            f"mm, valid {100.0 * shown.size / depth.size:.0f} %")


def run(args: argparse.Namespace) -> int:
    camera = common.open_camera(args)
    drops = common.DropCounter()
    frames = 0
    started = time.monotonic()
    window_start, window_frames = started, 0
    latencies: List[float] = []
    line = ""
    with common.depth_stream(camera):
        while True:
            frame = common.take_frame(camera, planes=("depth", "amplitude"))
            assert frame.depth is not None and frame.amplitude is not None  # the planes taken
            received = common.now_ms()
            frames += 1
            window_frames += 1
            drops.add(frame.timestamp)
            latency = received - frame.timestamp
            if 0 <= latency < 10_000:  # stamped on the monotonic clock
                latencies.append(latency)
            now = time.monotonic()
            if now - window_start >= 1.0 or frames == args.frames:
                rate = window_frames / max(now - window_start, 1e-9)
                shown = f"{np.mean(latencies):.1f} ms" if latencies else "n/a"
                line = (f"frames {frames}  {rate:.1f} fps  latency {shown}  drops "
                        f"{drops.dropped}  {depth_summary(frame.depth, frame.amplitude)}")
                common.progress(line)
                window_start, window_frames, latencies = now, 0, []
            if (args.frames and frames >= args.frames) or \
                    (args.seconds and now - started >= args.seconds):
                break
    common.end_progress()
    elapsed = time.monotonic() - started
    print(f"{frames} frames in {elapsed:.1f} s ({frames / max(elapsed, 1e-9):.1f} fps), "
          f"{drops.dropped} dropped by the camera")
    return common.EXIT_OK
