"""The viewer's frame messages and the one-slot mailboxes that hand them to clients."""
from __future__ import annotations

import struct
from typing import Callable, Optional, TypedDict

import numpy as np
import numpy.typing as npt

# Little-endian header of a frame message: magic, sequence number, timestamp (ms), width,
# height, frames the camera dropped, frames this client was not sent, camera frame rate.
# Depth (uint16 mm, 0 where none) and amplitude (uint16) follow, row by row.
HEADER = struct.Struct("<4sIdHHIIf")
MAGIC = b"QVF1"
AMPLITUDE_LIMIT = 65535.0


def frame_payload(depth: npt.NDArray[np.float32], amplitude: npt.NDArray[np.float32]) -> bytes:
    """The planes of a frame message: depth in whole mm and amplitude, both uint16."""
    depth_mm = np.nan_to_num(depth, nan=0.0, posinf=0.0, neginf=0.0)
    np.clip(depth_mm, 0.0, 65535.0, out=depth_mm)
    bright = np.nan_to_num(amplitude, nan=0.0, posinf=AMPLITUDE_LIMIT, neginf=0.0)
    np.clip(bright, 0.0, AMPLITUDE_LIMIT, out=bright)
    depth_rounded: npt.NDArray[np.float32] = np.rint(depth_mm)
    bright_rounded: npt.NDArray[np.float32] = np.rint(bright)
    return depth_rounded.astype("<u2").tobytes() + bright_rounded.astype("<u2").tobytes()


class Published:
    """One camera frame as the server publishes it: the shared payload and its facts."""

    __slots__ = ("sequence", "timestamp", "width", "height", "camera_drops", "rate", "payload")

    def __init__(self, sequence: int, timestamp: float, width: int, height: int,
                 camera_drops: int, rate: float, payload: bytes) -> None:
        self.sequence = sequence
        self.timestamp = timestamp
        self.width = width
        self.height = height
        self.camera_drops = camera_drops
        self.rate = rate
        self.payload = payload

    def message(self, client_drops: int) -> bytes:
        """The frame message for a client that missed `client_drops` frames so far."""
        return HEADER.pack(MAGIC, self.sequence & 0xFFFFFFFF, self.timestamp, self.width,
                           self.height, self.camera_drops & 0xFFFFFFFF,
                           client_drops & 0xFFFFFFFF, self.rate) + self.payload


class FrameMessage(TypedDict):
    """A frame message's fields and planes (uint16 height x width), as parse_message reads them."""
    sequence: int
    timestamp: float
    width: int
    height: int
    camera_drops: int
    client_drops: int
    rate: float
    depth: npt.NDArray[np.uint16]
    amplitude: npt.NDArray[np.uint16]


def parse_message(message: bytes) -> FrameMessage:
    """The fields and planes of a frame message (for tests and tools)."""
    magic, sequence, timestamp, width, height, camera_drops, client_drops, rate = \
        HEADER.unpack_from(message)
    if magic != MAGIC:
        raise ValueError("not a frame message")
    count = width * height
    planes = np.frombuffer(message, "<u2", count * 2, HEADER.size)
    return {"sequence": sequence, "timestamp": timestamp, "width": width, "height": height,
            "camera_drops": camera_drops, "client_drops": client_drops, "rate": rate,
            "depth": planes[:count].reshape(height, width),
            "amplitude": planes[count:].reshape(height, width)}


class Mailbox:
    """A client's one-slot mailbox: the newest frame wins, a frame replaced before it was
    sent counts as dropped. Used on the event loop's thread only."""

    def __init__(self, wake: Callable[[], None]) -> None:
        self.slot: Optional[Published] = None
        self.dropped = 0
        self._wake = wake  # called when a frame arrives (sets the sender's event)

    def put(self, frame: Published) -> None:
        if self.slot is not None:
            self.dropped += 1
        self.slot = frame
        self._wake()

    def take(self) -> Optional[Published]:
        frame, self.slot = self.slot, None
        return frame
