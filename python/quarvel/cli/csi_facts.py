"""Facts about the CSI camera path read from the library's traced open (quarvel._native):
what the board is, which nodes opened, where the walk stopped."""
from __future__ import annotations

import errno
import os
import re
from typing import TYPE_CHECKING, List, Optional

from quarvel import _native
from quarvel.cli.common import quiet_native_stderr

if TYPE_CHECKING:  # the types of the traced open's dicts exist in the extension's stub only
    from quarvel._native import _CsiOpenTrace as CsiOpenTrace
    from quarvel._native import _TracedCall as TracedCall

BOARD_NAMES = {0: "unknown board", 2: "NVIDIA Jetson Nano / TX1", 3: "NVIDIA Jetson",
               4: "NVIDIA Jetson", 5: "Raspberry Pi", 6: "Raspberry Pi 5", 7: "Radxa ROCK"}
MEDIA_BOARDS = (5, 6, 7)
JETSON_BOARDS = (2, 3, 4)
SENSOR_SIZES = {(240, 180): "HQVGA 240x180", (640, 480): "VGA 640x480"}


class CsiTrace:
    """One traced open (and start) of /dev/video<index>."""

    def __init__(self, index: int, start: bool = True) -> None:
        with quiet_native_stderr() as messages:
            self.data: CsiOpenTrace = _native.trace_csi_open(index, start)
        self.messages: List[str] = messages
        self.calls: List[TracedCall] = self.data["calls"]

    @property
    def board(self) -> int:
        return int(self.data["board_model"])

    @property
    def opened(self) -> bool:
        return self.data["open_status"] == 0

    def first(self, call: str, path_prefix: str = "", request: str = "") -> Optional[TracedCall]:
        for entry in self.calls:
            if entry["call"] == call and entry["path"].startswith(path_prefix) and \
                    (not request or entry["request"] == request):
                return entry
        return None

    def opened_paths(self, prefix: str) -> List[str]:
        """Paths beginning with `prefix` that opened, in order, each once."""
        paths: List[str] = []
        for entry in self.calls:
            if entry["call"] == "open" and entry["result"] >= 0 and \
                    entry["path"].startswith(prefix) and entry["path"] not in paths:
                paths.append(entry["path"])
        return paths

    def entities(self) -> List[str]:
        """Media entity names the walk enumerated, each once, in order."""
        names: List[str] = []
        for entry in self.calls:
            if entry["request"] == "MEDIA_IOC_ENUM_ENTITIES" and entry["result"] >= 0 and \
                    entry["detail"] not in names:
                names.append(entry["detail"])
        return names

    def sensor_entity(self) -> Optional[str]:
        key = "vantorix" if self.board == 7 else "quarvel-vantorix"
        return next((name for name in self.entities() if key in name), None)

    def sysfs_name(self) -> Optional[str]:
        """The Jetson video node's sysfs name line."""
        entry = self.first("readLines", "/sys/dev/char/")
        if entry is None or not entry["path"].endswith("/name") or entry["result"] != 0:
            return None
        lines = _native.system_read_lines(entry["path"], 1)
        return lines[0].strip() if isinstance(lines, list) and lines else None

    def bus_number(self) -> Optional[int]:
        """The sensor's I2C bus, from the opened bus node or the names that carry it."""
        entry = self.first("open", "/dev/i2c-")
        if entry is not None:
            return int(entry["path"][len("/dev/i2c-"):])
        for text in (self.sensor_entity(), self.sysfs_name()):
            match = re.search(r" (\d+)-", text or "")
            if match:
                return int(match.group(1))
        return None


def model_text() -> str:
    lines = _native.system_read_lines("/sys/firmware/devicetree/base/model", 1)
    if not isinstance(lines, list) or not lines:
        return ""
    return lines[0].split("\0")[0].strip()


def video_indices() -> List[int]:
    """The numbers of the /dev/video* nodes present."""
    entries = _native.system_list_directory("/dev")
    if not isinstance(entries, list):
        return []
    return sorted(int(name[5:]) for name in entries if re.fullmatch(r"video\d+", name))


def node_group(path: str) -> Optional[str]:
    """Name of the group owning a node (from the system's /etc/group), or None."""
    status = _native.system_stat(path)
    if not isinstance(status, tuple):
        return None
    gid = status[1]
    lines = _native.system_read_lines("/etc/group", 4096)
    for line in lines if isinstance(lines, list) else []:
        fields = line.strip().split(":")
        if len(fields) >= 3 and fields[2] == str(gid):
            return fields[0]
    return str(gid)


def error_name(number: int) -> str:
    return f"{errno.errorcode.get(number, str(number))} ({os.strerror(number)})"
