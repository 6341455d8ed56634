"""The viewer's camera thread: takes every frame, publishes the newest, applies controls
between frames. It never waits for a client."""
from __future__ import annotations

import concurrent.futures
import queue
import threading
import time
from typing import Callable, Dict, Optional, Tuple, Union

import QuarvelDepthCamera as qdc

from quarvel.cli import common
from quarvel.viewer.frames import Published, frame_payload

# The controls the page offers, by the names it uses.
CONTROLS: Dict[str, qdc.TOFControl] = {
    "RANGE": qdc.TOFControl.RANGE,
    "EXPOSURE": qdc.TOFControl.EXPOSURE,
    "FRAME_RATE": qdc.TOFControl.FRAME_RATE,
    # Skipping drops SKIP_FRAME frames of every SKIP_FRAME_LOOP: both are offered, since
    # skipping 1 in a cycle of 1 (the cycle's default) drops every frame.
    "SKIP_FRAME": qdc.TOFControl.SKIP_FRAME,
    "SKIP_FRAME_LOOP": qdc.TOFControl.SKIP_FRAME_LOOP,
}
WAIT_MS = 200  # longest wait for a frame before looking at control requests again

# The camera's answer to a request: every control's value by name (reading), or name,
# requested, ok, status and value (setting one).
ControlAnswer = Dict[str, Union[str, int, bool]]
# A request for the camera thread: (control name, value, future) to set one; (None, 0,
# future) to read them all.
ControlRequest = Tuple[Optional[str], int, concurrent.futures.Future[ControlAnswer]]


class CameraWorker:
    """Owns the open camera from start to close; every camera call happens on its thread."""

    def __init__(self, camera: qdc.QuarvelCamera, publish: Callable[[Published], None]) -> None:
        self.camera = camera
        self.publish = publish
        info = camera.getCameraInfo()
        self.width, self.height = info.width, info.height
        self.requests: queue.Queue[ControlRequest] = queue.Queue()
        self.stopping = threading.Event()
        self.error: Optional[str] = None
        self.frames = 0
        self.rate = 0.0
        self.drops = common.DropCounter()
        self.thread = threading.Thread(target=self._run, name="quarvel-camera", daemon=True)

    def start(self) -> None:
        common.check(self.camera.start(qdc.TOFOutput.DEPTH), "starting the depth stream")
        self.thread.start()

    def stop(self) -> None:
        self.stopping.set()
        self.thread.join()

    def control(self, name: str, value: int) -> concurrent.futures.Future[ControlAnswer]:
        """Sets a control on the camera thread; the future's result is the camera's answer:
        {"name", "requested", "ok", "status", "value"} (value: what the camera now reports)."""
        future: concurrent.futures.Future[ControlAnswer] = concurrent.futures.Future()
        self.requests.put((name, int(value), future))
        return future

    def read_controls(self) -> concurrent.futures.Future[ControlAnswer]:
        """Reads every control on the camera thread; the future's result maps their names to
        the values the camera reports."""
        future: concurrent.futures.Future[ControlAnswer] = concurrent.futures.Future()
        self.requests.put((None, 0, future))
        return future

    def _answer_requests(self) -> None:
        while True:
            try:
                name, value, future = self.requests.get_nowait()
            except queue.Empty:
                return
            if name is None:
                future.set_result({key: self.camera.getControl(ctrl)
                                   for key, ctrl in CONTROLS.items()})
                continue
            status = self.camera.setControl(CONTROLS[name], value)
            future.set_result({"name": name, "requested": value,
                               "ok": status == common.SUCCESS,
                               "status": f"{status.str()} ({int(status)})",
                               "value": self.camera.getControl(CONTROLS[name])})

    def _run(self) -> None:
        window_start, window_frames = time.monotonic(), 0
        try:
            while not self.stopping.is_set():
                self._answer_requests()
                frame = self.camera.requestFrame(WAIT_MS)
                if frame is None:
                    continue
                try:
                    if not isinstance(frame, qdc.DepthData):
                        raise TypeError("it sent a frame without depth")
                    depth = frame.getDepthData()
                    amplitude = frame.getAmplitudeData()
                    timestamp = float(frame.getFrameFormat().timestamp)
                finally:
                    self.camera.releaseFrame(frame)
                self.frames += 1
                window_frames += 1
                self.drops.add(timestamp)
                now = time.monotonic()
                if now - window_start >= 1.0:
                    self.rate = window_frames / (now - window_start)
                    window_start, window_frames = now, 0
                self.publish(Published(self.frames, timestamp, depth.shape[1], depth.shape[0],
                                       self.drops.dropped, self.rate,
                                       frame_payload(depth, amplitude)))
        except Exception as error:  # reported on the page and at exit, never a stall
            self.error = f"the camera stopped: {error}"
        finally:
            self._answer_requests()
            self.camera.stop()
            self.camera.close()
