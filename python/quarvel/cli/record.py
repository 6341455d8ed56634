"""quarvel record / quarvel play: recordings to and from MCAP files."""
from __future__ import annotations

import argparse
import sys
from typing import TYPE_CHECKING

from quarvel.cli import common

if TYPE_CHECKING:  # at run time quarvel.recording is imported by the commands that use it
    from quarvel.recording import RecordCounts


def add_parsers(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    rec = commands.add_parser("record", help="record a camera to an MCAP file",
                              description="Records depth frames to an MCAP file until N "
                                          "frames or S seconds (neither: until Ctrl-C).")
    rec.add_argument("output", help="the .mcap file to write")
    common.add_camera_arguments(rec)
    rec.add_argument("--frames", type=int, default=0, help="stop after this many frames")
    rec.add_argument("--seconds", type=float, default=0.0, help="stop after this long")
    rec.add_argument("--compression", choices=["zstd", "lz4", "none"],
                     help="chunk compression (default: zstd where the build has it)")
    rec.add_argument("--quiet", action="store_true", help="no progress line")
    rec.set_defaults(run=run_record)
    play = commands.add_parser("play", help="play a recording back through the pipeline",
                               description="Plays an MCAP recording back through the depth "
                                           "pipeline, paced as recorded unless --fast.")
    play.add_argument("file")
    play.add_argument("--fast", action="store_true", help="as fast as possible, not paced")
    play.add_argument("--loop", action="store_true", help="start again at the end")
    play.add_argument("--frames", type=int, default=0, help="stop after this many frames")
    play.set_defaults(run=run_play)


def progress_line(counts: RecordCounts) -> str:
    return (f"frames {counts['frames']}  seconds {counts['seconds']:.1f}  "
            f"megabytes {counts['megabytes']:.1f}  drops {counts['drops']}")


def run_record(args: argparse.Namespace) -> int:
    from quarvel.recording import record
    if args.frames and args.seconds:
        raise common.CommandError("give --frames or --seconds, not both.")
    # The recorder opens the camera itself: try it first so a camera that will not open is
    # one sentence, as in every other subcommand.
    common.open_camera(args).close()

    def show(counts: RecordCounts) -> None:
        common.progress(progress_line(counts))

    try:
        counts = record(args.output, connect=args.connect, index=args.index, config=args.config,
                        frames=args.frames, seconds=args.seconds, compression=args.compression,
                        progress=None if args.quiet else show)
    except RuntimeError as error:
        raise common.CommandError(f"recording failed: {error}") from None
    if not args.quiet:
        common.end_progress()
    print(f"recorded {counts['frames']} frames ({counts['megabytes']:.1f} MB) to {args.output}; "
          f"{counts['drops']} dropped by the recording")
    return common.EXIT_OK


def run_play(args: argparse.Namespace) -> int:
    from quarvel.recording import Playback
    try:
        playback = Playback(args.file, paced=not args.fast, loop=args.loop)
    except RuntimeError as error:
        raise common.CommandError(str(error)) from None
    frames = 0
    with playback:
        for _ in playback:
            frames += 1
            if args.frames and frames >= args.frames:
                break
        report = playback.report
    lost = f", {report['frames_lost']} lost" if report["frames_lost"] else ""
    cut = " (the file was cut short)" if report["truncated"] else ""
    # Unpaced, the pipeline runs ahead of this loop and, like a camera, drops the oldest
    # frames nobody took.
    print(f"played {report['frames_played']} frames{lost}{cut}; {frames} taken")
    if report["error"]:
        print(f"quarvel play: {report['error']}", file=sys.stderr)
        return common.EXIT_FAILURE
    return common.EXIT_OK
