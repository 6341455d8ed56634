"""quarvel list: the board, every CSI camera and every USB camera."""
from __future__ import annotations

import argparse
import json
from typing import Dict, List, Optional, TypedDict, Union

import QuarvelDepthCamera as qdc

from quarvel import _native
from quarvel.cli import common
from quarvel.cli.csi_facts import BOARD_NAMES, SENSOR_SIZES, CsiTrace, model_text, video_indices

# The USB transport does not use the device index: one USB camera is reachable, as number 0.
MAX_USB_CAMERAS = 1


class UsbCamera(TypedDict):
    """A USB camera as the JSON report lists it."""
    connect: str
    index: int
    sensor: str
    width: int
    height: int
    bit_width: int


class CsiCamera(TypedDict):
    """A CSI camera as the JSON report lists it: its nodes, bus and chip too."""
    connect: str
    index: int
    video_node: str
    media_node: Optional[str]
    subdevices: List[str]
    i2c_bus: Optional[int]
    i2c_node: Optional[str]
    chip_address: str
    sensor: str
    width: int
    height: int
    bit_width: int


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "list", help="the board and every camera found",
        description="Lists the board model (from the device tree), every CSI camera (video "
                    "node, media graph, subdevices, I2C bus and chip) and every USB camera, "
                    "with sensor, size and bit width.")
    parser.add_argument("--json", action="store_true", help="one JSON document instead of text")
    parser.set_defaults(run=run)


def sensor_name(width: int, height: int) -> str:
    return SENSOR_SIZES.get((width, height), f"{width}x{height}")


def csi_cameras() -> List[CsiCamera]:
    cameras: List[CsiCamera] = []
    for index in video_indices():
        trace = CsiTrace(index, start=False)
        if not trace.opened:
            continue
        bus = trace.bus_number()
        cameras.append({
            "connect": "csi", "index": index, "video_node": trace.data["device_path"],
            "media_node": next(iter(trace.opened_paths("/dev/media")), None),
            "subdevices": trace.opened_paths("/dev/v4l-subdev"),
            "i2c_bus": bus, "i2c_node": f"/dev/i2c-{bus}" if bus is not None else None,
            "chip_address": "0x0c",
            "sensor": sensor_name(trace.data["width"], trace.data["height"]),
            "width": trace.data["width"], "height": trace.data["height"],
            "bit_width": trace.data["bit_width"]})
    return cameras


def usb_cameras() -> List[UsbCamera]:
    cameras: List[UsbCamera] = []
    for index in range(MAX_USB_CAMERAS):
        camera = qdc.QuarvelCamera()
        with common.quiet_native_stderr():
            status = camera.open(qdc.TOFConnect.USB, index)
        if status != common.SUCCESS:
            break
        try:
            info = camera.getCameraInfo()
            cameras.append({"connect": "usb", "index": index,
                            "sensor": sensor_name(info.width, info.height),
                            "width": info.width, "height": info.height,
                            "bit_width": info.bit_width})
        finally:
            camera.close()
    return cameras


def run(args: argparse.Namespace) -> int:
    text = model_text()
    board_code = int(_native.board_model())
    csi = csi_cameras()
    usb = usb_cameras()
    board: Dict[str, Union[str, int]] = {"model": text, "code": board_code,
                                         "name": BOARD_NAMES.get(board_code, "unknown board")}
    report = {"board": board, "csi": csi, "usb": usb}
    if args.json:
        print(json.dumps(report, indent=2))
        return common.EXIT_OK
    print(f"board: {text or '(no device-tree model)'} ({board['name']})")
    if not csi:
        print("CSI cameras: none (run `quarvel doctor` if one is attached)")
    for camera in csi:
        print(f"CSI camera {camera['index']}: {camera['sensor']}, {camera['bit_width']}-bit, "
              f"video {camera['video_node']}, media {camera['media_node'] or '-'}, subdevices "
              f"{' '.join(camera['subdevices']) or '-'}, I2C {camera['i2c_node']} chip "
              f"{camera['chip_address']}")
    if not usb:
        print("USB cameras: none")
    for usb_camera in usb:
        print(f"USB camera {usb_camera['index']}: {usb_camera['sensor']}, "
              f"{usb_camera['bit_width']}-bit")
    return common.EXIT_OK
