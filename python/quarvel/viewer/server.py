"""The viewer's web server (aiohttp): the page, three.js, camera facts and a websocket per
client carrying frames out and control changes in."""
from __future__ import annotations

import asyncio
import json
import os
import signal
from typing import Awaitable, Callable, Optional, Set

from aiohttp import WSMsgType, web

import QuarvelDepthCamera as qdc

from quarvel import geometry
from quarvel.cli import common
from quarvel.viewer.camera_worker import CONTROLS, CameraWorker, ControlAnswer
from quarvel.viewer.frames import Mailbox, Published

STATIC_DIRECTORY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "static")
# Where Debian's libjs-three puts three.js; QUARVEL_THREE_DIR or --three-dir override it.
DEFAULT_THREE_DIRECTORY = "/usr/share/javascript/three"
THREE_FILES = ("build/three.min.js", "examples/js/controls/OrbitControls.js")
CONTROL_TIMEOUT_S = 5.0
SHUTDOWN_GRACE_S = 1.0


def three_directory(override: Optional[str] = None) -> str:
    """The three.js directory to serve; CommandError (one sentence) when a file is missing."""
    directory = override or os.environ.get("QUARVEL_THREE_DIR") or DEFAULT_THREE_DIRECTORY
    for name in THREE_FILES:
        if not os.path.isfile(os.path.join(directory, name)):
            raise common.CommandError(
                f"three.js is missing ({os.path.join(directory, name)} not found): install "
                f"Debian's libjs-three or point --three-dir at a three.js r111 tree.")
    return directory


class Viewer:
    """The server's state: the camera worker, the connected clients' mailboxes."""

    def __init__(self, camera: qdc.QuarvelCamera, three_dir: str) -> None:
        self.three_dir = three_dir
        self.loop: Optional[asyncio.AbstractEventLoop] = None
        self.mailboxes: Set[Mailbox] = set()
        self.sockets: Set[web.WebSocketResponse] = set()
        self.worker = CameraWorker(camera, self._publish_from_camera)
        info = camera.getCameraInfo()
        self.intrinsics = geometry.intrinsics_for(info.width, info.height)
        self.frames_sent = 0

    # Called on the camera thread: hand the frame to the loop and return at once.
    def _publish_from_camera(self, frame: Published) -> None:
        loop = self.loop
        if loop is not None and not loop.is_closed():
            loop.call_soon_threadsafe(self._deliver, frame)

    def _deliver(self, frame: Published) -> None:
        for mailbox in list(self.mailboxes):
            mailbox.put(frame)

    def application(self) -> web.Application:
        app = web.Application()
        app.router.add_get("/", self.index)
        app.router.add_get("/api/info", self.info)
        app.router.add_get("/ws", self.websocket)
        app.router.add_static("/static/", STATIC_DIRECTORY)
        app.router.add_get("/three/three.min.js", self.three_file(THREE_FILES[0]))
        app.router.add_get("/three/OrbitControls.js", self.three_file(THREE_FILES[1]))
        return app

    async def index(self, request: web.Request) -> web.StreamResponse:
        return web.FileResponse(os.path.join(STATIC_DIRECTORY, "index.html"))

    def three_file(self, name: str) -> Callable[[web.Request], Awaitable[web.StreamResponse]]:
        path = os.path.join(self.three_dir, name)

        async def handler(request: web.Request) -> web.StreamResponse:
            return web.FileResponse(path, headers={"Content-Type": "text/javascript"})
        return handler

    async def info(self, request: web.Request) -> web.Response:
        controls = await asyncio.wrap_future(self.worker.read_controls())
        intrinsics = self.intrinsics
        return web.json_response({
            "width": self.worker.width, "height": self.worker.height,
            "intrinsics": {"fx": intrinsics.fx, "fy": intrinsics.fy,
                           "cx": intrinsics.cx, "cy": intrinsics.cy},
            "depth_palette": common.palette(common.DEPTH_ANCHORS).tolist(),
            "amplitude_palette": common.palette(common.AMPLITUDE_ANCHORS).tolist(),
            "controls": controls, "error": self.worker.error})

    async def websocket(self, request: web.Request) -> web.WebSocketResponse:
        socket = web.WebSocketResponse(heartbeat=10.0, max_msg_size=1 << 16)
        await socket.prepare(request)
        wake = asyncio.Event()
        mailbox = Mailbox(wake.set)
        self.mailboxes.add(mailbox)
        self.sockets.add(socket)
        sender = asyncio.ensure_future(self._send_frames(socket, mailbox, wake))
        try:
            async for message in socket:
                if message.type == WSMsgType.TEXT:
                    await socket.send_str(json.dumps(await self._control(message.data)))
                elif message.type == WSMsgType.ERROR:
                    break
        finally:
            self.mailboxes.discard(mailbox)
            self.sockets.discard(socket)
            sender.cancel()
        return socket

    async def _send_frames(self, socket: web.WebSocketResponse, mailbox: Mailbox,
                           wake: asyncio.Event) -> None:
        # While a send is under way newer frames replace older ones in the mailbox.
        try:
            while not socket.closed:
                await wake.wait()
                wake.clear()
                frame = mailbox.take()
                if frame is None:
                    continue
                await socket.send_bytes(frame.message(mailbox.dropped))
                self.frames_sent += 1
        except (ConnectionError, RuntimeError, asyncio.CancelledError):
            pass  # the client went away

    async def _control(self, text: str) -> ControlAnswer:
        try:
            request = json.loads(text)
            name, value = request["name"], int(request["value"])
        except (ValueError, KeyError, TypeError):
            return {"type": "control", "ok": False, "status": "not a control request"}
        if name not in CONTROLS:
            return {"type": "control", "name": name, "ok": False,
                    "status": f"unknown control {name}"}
        try:
            answer = await asyncio.wait_for(asyncio.wrap_future(self.worker.control(name, value)),
                                            CONTROL_TIMEOUT_S)
        except asyncio.TimeoutError:
            return {"type": "control", "name": name, "ok": False,
                    "status": self.worker.error or "the camera did not answer"}
        return {"type": "control", **answer}


async def serve(viewer: Viewer, host: str, port: int,
                ready: Optional[Callable[[int], None]] = None) -> None:
    """Serves until SIGINT or SIGTERM. `ready(port)` is called once the socket listens."""
    viewer.loop = asyncio.get_running_loop()
    runner = web.AppRunner(viewer.application(), access_log=None)
    await runner.setup()
    # Clients that stopped reading must not hold up the exit: a short grace, then cut.
    site = web.TCPSite(runner, host, port, shutdown_timeout=SHUTDOWN_GRACE_S)
    await site.start()
    bound = runner.addresses[0][1] if runner.addresses else port
    stop = asyncio.Event()
    for number in (signal.SIGINT, signal.SIGTERM):
        viewer.loop.add_signal_handler(number, stop.set)
    viewer.worker.start()
    if ready is not None:
        ready(bound)
    try:
        await stop.wait()
    finally:
        for socket in list(viewer.sockets):
            try:
                await asyncio.wait_for(socket.close(), SHUTDOWN_GRACE_S)
            except (asyncio.TimeoutError, ConnectionError, RuntimeError):
                pass  # a stalled client: dropped with the server
        await runner.cleanup()
