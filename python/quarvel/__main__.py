"""quarvel record / quarvel play: the command line of recordings."""
import argparse
import sys
from typing import Any, Dict, List, Optional

from quarvel.recording import Playback, record


def progress_line(counts: Dict[str, Any]) -> str:
    """The one-line progress report of `quarvel record` (starts with a carriage return)."""
    return (f"\rframes {counts['frames']}  seconds {counts['seconds']:.1f}  "
            f"megabytes {counts['megabytes']:.1f}  drops {counts['drops']}")


def run_record(args: argparse.Namespace) -> int:
    """`quarvel record`: records until the frame count or time is reached; the exit status."""
    def show(counts: Dict[str, Any]) -> None:
        sys.stderr.write(progress_line(counts))
        sys.stderr.flush()

    try:
        counts = record(args.output, connect=args.connect, index=args.index, config=args.config,
                        frames=args.frames, seconds=args.seconds, compression=args.compression,
                        progress=None if args.quiet else show)
    except KeyboardInterrupt:
        sys.stderr.write("\ninterrupted\n")
        return 130
    if not args.quiet:
        sys.stderr.write("\n")
    print(f"recorded {counts['frames']} frames ({counts['megabytes']:.1f} MB) to {args.output}; "
          f"{counts['drops']} dropped by the recording")
    return 0


def run_play(args: argparse.Namespace) -> int:
    """`quarvel play`: plays a recording through the pipeline; the exit status."""
    try:
        playback = Playback(args.file, paced=not args.fast, loop=args.loop)
    except RuntimeError as error:
        print(f"quarvel play: {error}", file=sys.stderr)
        return 1
    frames = 0
    with playback:
        for frame in playback:
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
        return 1
    return 0


def main(argv: Optional[List[str]] = None) -> int:
    """The quarvel command: parses `argv` (default: sys.argv) and returns the exit status."""
    parser = argparse.ArgumentParser(prog="quarvel")
    commands = parser.add_subparsers(dest="command", required=True)
    rec = commands.add_parser("record", help="record a camera to an MCAP file")
    rec.add_argument("output", help="the .mcap file to write")
    rec.add_argument("--connect", choices=["csi", "usb"], default="usb")
    rec.add_argument("--index", type=int, default=0)
    rec.add_argument("--config", metavar="FILE", help="configuration file of a USB camera")
    rec.add_argument("--frames", type=int, default=0, help="stop after this many frames")
    rec.add_argument("--seconds", type=float, default=0.0, help="stop after this long")
    rec.add_argument("--compression", choices=["zstd", "lz4", "none"],
                     help="chunk compression (default: zstd where the build has it)")
    rec.add_argument("--quiet", action="store_true", help="no progress line")
    play = commands.add_parser("play", help="play a recording back through the pipeline")
    play.add_argument("file")
    play.add_argument("--fast", action="store_true", help="as fast as possible, not paced")
    play.add_argument("--loop", action="store_true", help="start again at the end")
    play.add_argument("--frames", type=int, default=0, help="stop after this many frames")
    args = parser.parse_args(argv)
    return run_record(args) if args.command == "record" else run_play(args)


if __name__ == "__main__":
    sys.exit(main())
