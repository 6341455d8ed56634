"""Recording a camera to an MCAP file, and playing a recording back as a camera.

A recording holds every frame's raw sub-frames exactly as the sensor delivered them
(channel /quarvel/raw), so playback through the same device gives the same depth bit for bit,
and ROS 2 messages that Foxglove and ROS 2 bag tools open directly: /quarvel/depth
(sensor_msgs/msg/Image, 32FC1, metres), /quarvel/amplitude (32FC1), /quarvel/camera_info
(sensor_msgs/msg/CameraInfo) and /quarvel/controls (JSON control changes).
"""
from types import TracebackType
from typing import Any, Callable, Dict, Iterator, Optional, Type

from quarvel import _recording
from quarvel.frames import DepthFrame


RecordCounts = Dict[str, Any]


def record(path: str, *, connect: str = "usb", index: int = 0, config: Optional[str] = None,
           frames: int = 0, seconds: float = 0.0, compression: Optional[str] = None,
           queue_frames: int = 8, timeout_ms: int = 5000,
           progress: Optional[Callable[[RecordCounts], None]] = None) -> RecordCounts:
    """Streams depth from a camera into `path` until `frames` frames were delivered or
    `seconds` passed (both 0: until Ctrl-C). Returns the recorder's counts: frames
    (recorded), drops (frames a slow disk cost the recording, never the camera), megabytes,
    seconds and camera_frames. `progress(counts)` is called about twice a second.
    `compression` is "zstd", "lz4" or "none"; None takes zstd where the build has it.
    `connect` is "usb" or "csi" with the camera `index`, or `config` names a USB camera's
    configuration file; `queue_frames` bounds the frames waiting for the disk and
    `timeout_ms` the wait for each camera frame. Raises RuntimeError when the camera does
    not open or the file cannot be written."""
    return _recording.record(path, connect=connect, index=index, config=config or "",
                             frames=frames, seconds=seconds, compression=compression or "",
                             queue_frames=queue_frames, timeout_ms=timeout_ms,
                             progress=progress)


class Playback:
    """A recording opened as a depth camera. Iterating yields DepthFrame objects, as a live
    camera's frames() does (depth in mm as the camera delivered it, amplitude, confidence,
    the sensor's timestamp in ms), until the recording ends (or forever with loop=True)."""

    def __init__(self, path: str, *, paced: bool = True, loop: bool = False) -> None:
        self._player = _recording.Player(path, paced=paced, loop=loop)
        self._delivered = 0

    def next_frame(self, timeout_ms: int = 5000) -> Optional[DepthFrame]:
        """The next DepthFrame, or None at the end of the recording or after timeout_ms."""
        planes = self._player.next(timeout_ms)
        if planes is None:
            return None
        frame = DepthFrame(planes["depth"], planes["amplitude"], planes["confidence"],
                           int(planes["timestamp"]), self._delivered)
        self._delivered += 1
        return frame

    def __iter__(self) -> Iterator[DepthFrame]:
        """Every remaining frame, waiting as long as the pipeline needs for each."""
        while (frame := self.next_frame(-1)) is not None:
            yield frame

    @property
    def info(self) -> Dict[str, Any]:
        """width, height and device_type of the recorded camera."""
        return self._player.info()

    @property
    def report(self) -> Dict[str, Any]:
        """frames_played, frames_lost (dropped while recording or cut off with the end of a
        truncated file), truncated, finished and error."""
        return self._player.report()

    def close(self) -> None:
        """Stops the playback pipeline; the report stays readable."""
        self._player.close()

    def __enter__(self) -> "Playback":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]],
                 exc: Optional[BaseException], traceback: Optional[TracebackType]) -> None:
        self.close()
