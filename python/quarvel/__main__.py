"""The quarvel command (also `python3 -m quarvel`): a thin dispatcher over quarvel.cli."""
import argparse
import sys
from typing import Callable, List, Optional

from quarvel.cli import common


def build_parser() -> argparse.ArgumentParser:
    """The command line: one subcommand per module of quarvel.cli, and the viewer."""
    from quarvel.cli import capture, doctor, record, stats
    from quarvel.cli import list as list_command
    from quarvel.viewer import command as view_command
    parser = argparse.ArgumentParser(
        prog="quarvel", description="Lists, diagnoses, captures, records and views Quarvel "
                                    "depth cameras. `quarvel COMMAND --help` for each command.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    list_command.add_parser(commands)
    doctor.add_parser(commands)
    capture.add_parser(commands)
    record.add_parsers(commands)
    stats.add_parser(commands)
    view_command.add_parser(commands)
    return parser


def main(argv: Optional[List[str]] = None) -> int:
    """Runs one subcommand; its exit code (see quarvel.cli.common)."""
    args = build_parser().parse_args(argv)
    run: Callable[[argparse.Namespace], int] = args.run  # each subcommand's set_defaults
    try:
        return run(args)
    except common.CommandError as error:
        sys.stderr.write("\n" if sys.stderr.isatty() else "")
        sentence = str(error).rstrip()
        if not sentence.endswith("."):
            sentence += "."
        print(f"quarvel {args.command}: {sentence}", file=sys.stderr)
        return common.EXIT_FAILURE
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return common.EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
