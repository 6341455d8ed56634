"""Writing RGB images as PNG files, with zlib alone."""
from __future__ import annotations

import struct
import zlib

import numpy as np
import numpy.typing as npt


def _chunk(kind: bytes, data: bytes) -> bytes:
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(image: npt.NDArray[np.uint8]) -> bytes:
    """The PNG bytes of a height x width x 3 uint8 image (8-bit RGB, no filtering)."""
    if image.ndim != 3 or image.shape[2] != 3 or image.dtype != np.uint8:
        raise ValueError("an RGB image is height x width x 3 uint8")
    height, width = image.shape[:2]
    rows = np.zeros((height, 1 + width * 3), np.uint8)  # filter byte 0 before each row
    rows[:, 1:] = image.reshape(height, width * 3)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header) +
            _chunk(b"IDAT", zlib.compress(rows.tobytes(), 6)) + _chunk(b"IEND", b""))


def write_png(path: str, image: npt.NDArray[np.uint8]) -> None:
    with open(path, "wb") as file:
        file.write(encode_png(image))
