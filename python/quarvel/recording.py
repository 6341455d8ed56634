"""Recording a camera to an MCAP file, and playing a recording back as a camera.

A recording holds every frame's raw sub-frames exactly as the sensor delivered them
(channel /quarvel/raw), so playback through the same device gives the same depth bit for bit,
and ROS 2 messages that Foxglove and ROS 2 bag tools open directly: /quarvel/depth
(sensor_msgs/msg/Image, 32FC1, metres), /quarvel/amplitude (32FC1), /quarvel/camera_info
(sensor_msgs/msg/CameraInfo) and /quarvel/controls (JSON control changes).
"""
from quarvel import _recording


def record(path, *, connect="usb", index=0, config=None, frames=0, seconds=0.0,
           compression=None, queue_frames=8, timeout_ms=5000, progress=None):
    """Streams depth from a camera into `path` until `frames` frames were delivered or
    `seconds` passed (both 0: until Ctrl-C). Returns the recorder's counts: frames
    (recorded), drops (frames a slow disk cost the recording, never the camera), megabytes,
    seconds and camera_frames. `progress(counts)` is called about twice a second.
    `compression` is "zstd", "lz4" or "none"; None takes zstd where the build has it."""
    return _recording.record(path, connect=connect, index=index, config=config or "",
                             frames=frames, seconds=seconds, compression=compression or "",
                             queue_frames=queue_frames, timeout_ms=timeout_ms,
                             progress=progress)


class Playback:
    """A recording opened as a depth camera. Iterating yields dicts with timestamp (the
    sensor's, ms), depth (float32 mm, as the camera delivered it) and amplitude until the
    recording ends (or forever with loop=True)."""

    def __init__(self, path, *, paced=True, loop=False):
        self._player = _recording.Player(path, paced=paced, loop=loop)

    def next_frame(self, timeout_ms=5000):
        """The next frame, or None at the end of the recording or after timeout_ms."""
        return self._player.next(timeout_ms)

    def __iter__(self):
        while (frame := self._player.next(-1)) is not None:
            yield frame

    @property
    def info(self):
        """width, height and device_type of the recorded camera."""
        return self._player.info()

    @property
    def report(self):
        """frames_played, frames_lost (dropped while recording or cut off with the end of a
        truncated file), truncated, finished and error."""
        return self._player.report()

    def close(self):
        self._player.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
