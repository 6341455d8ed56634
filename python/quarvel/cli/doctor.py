"""quarvel doctor: walks the CSI discovery and open path step by step and says what is wrong
and how to fix it."""
from __future__ import annotations

import argparse
import errno
from typing import Optional

from quarvel import _native
from quarvel.cli import common
from quarvel.cli.csi_facts import (BOARD_NAMES, JETSON_BOARDS, MEDIA_BOARDS, SENSOR_SIZES,
                                   CsiTrace, error_name, model_text, node_group)


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "doctor", help="find out why a CSI camera does not open",
        description="Walks the CSI camera's discovery and open path step by step (board, "
                    "video node, media graph or sysfs name, sensor, I2C bus, stream) and "
                    "says exactly what is wrong and how to fix it. Exit code 0 when the "
                    "camera is ready, 3 when a problem was found.")
    parser.add_argument("--index", type=int, default=0, help="video node number (default 0)")
    parser.set_defaults(run=run)


class Report:
    """Step lines on standard output; the first failure ends the walk."""

    def __init__(self) -> None:
        self.problem: Optional[str] = None

    def ok(self, step: str, text: str) -> None:
        print(f"[ ok ] {step}: {text}")

    def fail(self, step: str, text: str, fix: str) -> None:
        print(f"[FAIL] {step}: {text}")
        print(f"       fix: {fix}")
        self.problem = text


def join_group_fix(path: str) -> str:
    group = node_group(path)
    if group is None or group == "root":
        return f"run as a user allowed to open {path} (check its permissions with ls -l {path})"
    return (f"join the group '{group}' that owns {path} (sudo usermod -aG {group} $USER), "
            f"then log out and in again")


def diagnose(index: int, report: Report) -> None:
    model = model_text()
    board = int(_native.board_model())
    if board == 0:
        report.fail("board", f"the device tree names this board '{model or 'nothing'}', which "
                             "the camera does not support",
                    "use a Raspberry Pi, NVIDIA Jetson or Radxa ROCK board; the CSI camera's "
                    "discovery depends on the board")
        return
    report.ok("board", f"{model} ({BOARD_NAMES.get(board, board)})")

    path = f"/dev/video{index}"
    status = _native.system_stat(path)
    if status == -errno.ENOENT:
        report.fail("video node", f"there is no {path}: the capture driver did not see the "
                                  "camera",
                    "check the ribbon cable and that the camera's device-tree overlay is "
                    "enabled (dtoverlay line in the boot config), reboot, and read dmesg")
        return
    trace = CsiTrace(index, start=True)
    opened = trace.first("open", path)
    if opened is not None and opened["result"] < 0:
        if opened["errno"] == errno.EACCES:
            report.fail("video node", f"permission denied on {path}", join_group_fix(path))
        else:
            report.fail("video node", f"{path} does not open: {error_name(opened['errno'])}",
                        "check dmesg for errors of the capture driver")
        return
    report.ok("video node", f"{path} opens")

    if board in MEDIA_BOARDS:
        if not _media_graph(trace, board, path, report):
            return
    elif board in JETSON_BOARDS:
        name = trace.sysfs_name()
        if name is None or "quarvel" not in name:
            report.fail("sensor", f"{path} is '{name}', not a Quarvel camera",
                        "pick the video node of the Quarvel camera with --index (quarvel "
                        "list), or enable the Quarvel sensor's device-tree overlay")
            return
        report.ok("sensor", f"{path} is '{name}'")

    if not _i2c(trace, report):
        return
    if not trace.opened:
        last = _last_failure(trace)
        report.fail("open", f"the camera did not open{last}",
                    "run the command again; if it persists, report it with this output")
        return
    size = (trace.data["width"], trace.data["height"])
    report.ok("open", f"{SENSOR_SIZES.get(size, '%dx%d' % size)}, "
                      f"{trace.data['bit_width']}-bit samples")

    if trace.data["start_status"] not in (None, 0):
        streamon = trace.first("ioctl", path, "VIDIOC_STREAMON")
        if streamon is not None and streamon["errno"] == errno.EPIPE:
            report.fail("stream", "the stream does not start (EPIPE): a link of the media "
                                  "pipeline from the sensor to the video node is missing or "
                                  "disabled",
                        "`media-ctl -p` shows the graph; enable the sensor's link with "
                        "media-ctl -l, or fix the device-tree overlay that should create it")
        else:
            report.fail("stream", f"the stream does not start{_last_failure(trace)}",
                        "check dmesg for errors of the capture driver")
        return
    report.ok("stream", "starts and stops")


def _media_graph(trace: CsiTrace, board: int, path: str, report: Report) -> bool:
    media = trace.opened_paths("/dev/media")
    if not media:
        report.fail("media graph", f"no media node opens for {path}",
                    "check that the capture driver's media controller is loaded (ls "
                    "/dev/media*) and that you may open it")
        return False
    if board == 6:
        link = trace.first("ioctl", media[0], "MEDIA_IOC_SETUP_LINK")
        if link is not None and link["result"] < 0:
            report.fail("media link", "the link csi2 -> rp1-cfe-csi2_ch0 cannot be enabled "
                                      f"({error_name(link['errno'])}): it is missing from the "
                                      "media graph",
                        "update the kernel and firmware so that the RP1 camera receiver "
                        "creates it (`media-ctl -p` lists the links)")
            return False
    entities = trace.entities()
    sensor = trace.sensor_entity()
    if sensor is None:
        found = ", ".join(f"'{name}'" for name in entities) or "none"
        report.fail("sensor", f"the media graph of {media[0]} has no Quarvel sensor (entities: "
                              f"{found}); {path} is not a Quarvel camera",
                    "pick the video node of the Quarvel camera with --index (quarvel list), "
                    "or enable the Quarvel sensor's device-tree overlay")
        return False
    report.ok("media graph", f"{media[0]}, sensor '{sensor}'")
    for subdevice in sorted({entry["path"] for entry in trace.calls
                             if entry["call"] == "open" and entry["result"] < 0 and
                             entry["path"].startswith("/dev/v4l-subdev")}):
        failed = trace.first("open", subdevice)
        assert failed is not None  # the path is that of an open in the trace
        if failed["errno"] == errno.EACCES:
            report.fail("subdevice", f"permission denied on {subdevice}",
                        join_group_fix(subdevice))
        else:
            report.fail("subdevice", f"{subdevice} does not open: "
                                     f"{error_name(failed['errno'])}",
                        "check dmesg for errors of the sensor driver")
        return False
    return True


def _i2c(trace: CsiTrace, report: Report) -> bool:
    bus = trace.bus_number()
    if bus is None:
        report.fail("I2C bus", "the sensor's I2C bus is not named by the media graph or sysfs",
                    "check the sensor's device-tree overlay")
        return False
    node = f"/dev/i2c-{bus}"
    attempt = trace.first("open", node)
    if attempt is not None and attempt["result"] >= 0:
        report.ok("I2C bus", f"{node}, chip 0x0c")
        return True
    if not isinstance(_native.system_list_directory("/sys/class/i2c-dev"), list):
        report.fail("I2C bus", "the i2c-dev module is not loaded: no /dev/i2c-* nodes exist",
                    "sudo modprobe i2c-dev, and add the line i2c-dev to /etc/modules so it "
                    "loads at boot")
        return False
    if attempt is not None and attempt["errno"] == errno.EACCES:
        report.fail("I2C bus", f"permission denied on {node}", join_group_fix(node))
        return False
    report.fail("I2C bus", f"the sensor's I2C bus {bus} does not exist ({node} is missing)",
                "the bus's controller or multiplexer was not probed: check the I2C "
                "settings of the device-tree overlay (dtparam) and dmesg")
    return False


def _last_failure(trace: CsiTrace) -> str:
    failed = [entry for entry in trace.calls if entry["result"] < 0]
    if not failed:
        return ""
    entry = failed[-1]
    what = entry["request"] or entry["call"]
    return f" ({what} on {entry['path']}: {error_name(entry['errno'])})"


def run(args: argparse.Namespace) -> int:
    report = Report()
    diagnose(args.index, report)
    if report.problem is None:
        print(f"verdict: the CSI camera on /dev/video{args.index} is ready.")
        return common.EXIT_OK
    print(f"verdict: not usable: {report.problem}.")
    return common.EXIT_PROBLEM_FOUND
