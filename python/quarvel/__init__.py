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

import QuarvelDepthCamera as _qdc

from quarvel.frames import DepthFrame
from quarvel.recording import Playback, record

__all__ = ["Camera", "DepthFrame", "Playback", "QuarvelError", "open", "parse_source", "record"]

_SUCCESS = _qdc.TOFErrorCode.QuarvelSuccess


class QuarvelError(RuntimeError):
    """A camera call failed; `status` is its TOFErrorCode member."""

    def __init__(self, action, status):
        self.status = status
        self.action = action
        super().__init__(f"{action} failed: {status.str()} ({int(status)})")


def _check(action, status):
    if status != _SUCCESS:
        raise QuarvelError(action, status)


def parse_source(source):
    """("usb" | "csi", index, None) for "usb:N" / "csi:N", or ("usb", 0, path) for the path
    of a camera description or configuration file (opened with openWithFile)."""
    if isinstance(source, os.PathLike):
        return "usb", 0, os.fspath(source)
    if not isinstance(source, str) or not source:
        raise ValueError(f"a camera source is 'usb:N', 'csi:N' or a file path, got {source!r}")
    kind, separator, index = source.partition(":")
    if separator and kind in ("usb", "csi"):
        if not index.isdigit():
            raise ValueError(f"camera index must be a whole number, got {source!r}")
        return kind, int(index), None
    return "usb", 0, source


class Camera:
    """An open camera. Use as a context manager: leaving the block stops and closes it."""

    def __init__(self, source):
        kind, index, path = parse_source(source)
        self.source = source
        self._camera = _qdc.QuarvelCamera()
        self._streaming = False
        if path is not None:
            if not os.path.exists(path):
                raise FileNotFoundError(path)
            _check(f"opening {path}", self._camera.openWithFile(path, index))
        else:
            connection = _qdc.TOFConnect.USB if kind == "usb" else _qdc.TOFConnect.CSI
            _check(f"opening {source}", self._camera.open(connection, index))

    @property
    def native(self):
        """The QuarvelDepthCamera.QuarvelCamera underneath, for every other call."""
        return self._camera

    @property
    def info(self):
        return self._camera.getCameraInfo()

    @property
    def size(self):
        """(width, height) of the depth frames."""
        info = self._camera.getCameraInfo()
        return info.width, info.height

    def start(self):
        if not self._streaming:
            _check("start", self._camera.start(_qdc.TOFOutput.DEPTH))
            self._streaming = True

    def stop(self):
        if self._streaming:
            self._streaming = False
            _check("stop", self._camera.stop())

    def close(self):
        if self._camera is not None:
            self.stop()
            self._camera.close()
            self._camera = None

    def frames(self, count=None, timeout_ms=2000):
        """Yields DepthFrame copies (starting the stream if needed); each borrowed buffer is
        released before the frame is yielded. Ends after `count` frames (None: never);
        raises TimeoutError when no frame comes within the timeout."""
        self.start()
        delivered = 0
        while count is None or delivered < count:
            frame = self._camera.requestFrame(timeout_ms)
            if frame is None:
                raise TimeoutError(f"no frame within {timeout_ms} ms")
            try:
                result = DepthFrame(frame.getDepthData(), frame.getAmplitudeData(),
                                    frame.getConfidenceData(), frame.getFrameFormat().timestamp,
                                    delivered)
            finally:
                self._camera.releaseFrame(frame)
            delivered += 1
            yield result

    def __iter__(self):
        return self.frames()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        # A camera left open is closed by the native object's destructor as well.
        self._camera = None


def open(source, **options):
    """Opens a camera: "usb:N", "csi:N", the path of a camera description file, or
    "file:PATH", the MCAP recording at PATH played back as a camera (`options`: paced, loop;
    see Playback)."""
    if isinstance(source, str) and source.startswith("file:"):
        return Playback(source[len("file:"):], **options)
    if options:
        raise TypeError(f"options {sorted(options)} apply only to recordings (file:PATH)")
    return Camera(source)
