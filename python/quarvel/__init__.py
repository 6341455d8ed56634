"""The Pythonic face of the Quarvel depth camera, built on the QuarvelDepthCamera module.

    import quarvel
    with quarvel.open("usb:0") as camera:          # or "csi:0", or a simulated-camera file
        for frame in camera.frames(count=10):      # DepthFrame: copies of the planes
            print(frame.depth[90, 120])

Failures raise QuarvelError carrying the camera's status. The 3D geometry (intrinsics,
point clouds, filters, PLY files) is in quarvel.geometry; recording to MCAP files and playing
them back ("file:run.mcap") in quarvel.recording.
"""
import os
from types import TracebackType
from typing import Any, Iterator, Literal, Optional, Tuple, Type, Union

import QuarvelDepthCamera as _qdc

from quarvel.frames import DepthFrame
from quarvel.recording import Playback, record

__all__ = ["Camera", "DepthFrame", "Playback", "QuarvelError", "open", "parse_source", "record"]

_SUCCESS = _qdc.TOFErrorCode.QuarvelSuccess


class QuarvelError(RuntimeError):
    """A camera call failed; `status` is its TOFErrorCode member, `action` what was tried.

    The message joins the action, the status text and its number, for example
    "opening usb:3 failed: Invalid parameter (1)".
    """

    def __init__(self, action: str, status: _qdc.TOFErrorCode) -> None:
        self.status = status
        self.action = action
        super().__init__(f"{action} failed: {status.str()} ({int(status)})")


def _check(action: str, status: _qdc.TOFErrorCode) -> None:
    if status != _SUCCESS:
        raise QuarvelError(action, status)


SourceKind = Literal["usb", "csi"]
Source = Union[str, "os.PathLike[str]"]


def parse_source(source: Source) -> Tuple[SourceKind, int, Optional[str]]:
    """Splits a camera source into (kind, index, path).

    "usb:N" and "csi:N" give ("usb" or "csi", N, None); anything else (a str or path-like
    object) is the path of a camera description or configuration file and gives
    ("usb", 0, path), opened with openWithFile. Raises ValueError for an empty or non-text
    source and for an index that is not a whole number.
    """
    if isinstance(source, os.PathLike):
        return "usb", 0, os.fspath(source)
    if not isinstance(source, str) or not source:
        raise ValueError(f"a camera source is 'usb:N', 'csi:N' or a file path, got {source!r}")
    kind, separator, index = source.partition(":")
    if separator and kind in ("usb", "csi"):
        if not index.isdigit():
            raise ValueError(f"camera index must be a whole number, got {source!r}")
        return ("usb" if kind == "usb" else "csi"), int(index), None
    return "usb", 0, source


class Camera:
    """An open camera. Use as a context manager: leaving the block stops and closes it.

    `source` is what parse_source accepts. Opening raises FileNotFoundError for a file path
    that does not exist and QuarvelError when the camera refuses to open.
    """

    def __init__(self, source: Source) -> None:
        kind, index, path = parse_source(source)
        self.source = source
        self._camera: Optional[_qdc.QuarvelCamera] = _qdc.QuarvelCamera()
        self._streaming = False
        if path is not None:
            if not os.path.exists(path):
                raise FileNotFoundError(path)
            _check(f"opening {path}", self._native().openWithFile(path, index))
        else:
            connection = _qdc.TOFConnect.USB if kind == "usb" else _qdc.TOFConnect.CSI
            _check(f"opening {source}", self._native().open(connection, index))

    def _native(self) -> _qdc.QuarvelCamera:
        # Calls on a closed camera fail plainly instead of on None.
        if self._camera is None:
            raise ValueError("the camera is closed")
        return self._camera

    @property
    def native(self) -> Optional[_qdc.QuarvelCamera]:
        """The QuarvelDepthCamera.QuarvelCamera underneath, for every other call; None once
        the camera is closed."""
        return self._camera

    @property
    def info(self) -> _qdc.QuarvelInfo:
        """The camera's QuarvelInfo record (a copy): sizes, connection, device type."""
        return self._native().getCameraInfo()

    @property
    def size(self) -> Tuple[int, int]:
        """(width, height) of the depth frames."""
        info = self._native().getCameraInfo()
        return info.width, info.height

    def start(self) -> None:
        """Starts the depth stream unless it runs; raises QuarvelError when the camera refuses."""
        if not self._streaming:
            _check("start", self._native().start(_qdc.TOFOutput.DEPTH))
            self._streaming = True

    def stop(self) -> None:
        """Stops the stream if it runs; raises QuarvelError when the camera reports a failure."""
        if self._streaming:
            self._streaming = False
            _check("stop", self._native().stop())

    def close(self) -> None:
        """Stops the stream and closes the camera; further calls do nothing."""
        if self._camera is not None:
            self.stop()
            self._camera.close()
            self._camera = None

    def frames(self, count: Optional[int] = None,
               timeout_ms: int = 2000) -> Iterator[DepthFrame]:
        """Yields DepthFrame copies (starting the stream if needed); each borrowed buffer is
        released before the frame is yielded. Ends after `count` frames (None: never);
        raises TimeoutError when no frame comes within the timeout."""
        self.start()
        camera = self._native()
        delivered = 0
        while count is None or delivered < count:
            frame = camera.requestFrame(timeout_ms)
            if not isinstance(frame, _qdc.DepthData):
                if frame is not None:
                    camera.releaseFrame(frame)
                raise TimeoutError(f"no frame within {timeout_ms} ms")
            try:
                result = DepthFrame(frame.getDepthData(), frame.getAmplitudeData(),
                                    frame.getConfidenceData(), frame.getFrameFormat().timestamp,
                                    delivered)
            finally:
                camera.releaseFrame(frame)
            delivered += 1
            yield result

    def __iter__(self) -> Iterator[DepthFrame]:
        """The frames of an endless stream: frames() without a count."""
        return self.frames()

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]],
                 exc: Optional[BaseException], traceback: Optional[TracebackType]) -> Literal[False]:
        self.close()
        return False

    def __del__(self) -> None:
        # A camera left open is closed by the native object's destructor as well.
        self._camera = None


def open(source: Source, **options: Any) -> Union[Camera, Playback]:
    """Opens a camera: "usb:N", "csi:N", the path of a camera description file, or
    "file:PATH", the MCAP recording at PATH played back as a camera (`options`: paced, loop;
    see Playback).

    Raises TypeError for options given to a live camera, and what Camera and Playback raise.
    """
    if isinstance(source, str) and source.startswith("file:"):
        return Playback(source[len("file:"):], **options)
    if options:
        raise TypeError(f"options {sorted(options)} apply only to recordings (file:PATH)")
    return Camera(source)
