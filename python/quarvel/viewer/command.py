"""quarvel view: the live viewer in the browser."""
from __future__ import annotations

import argparse
import asyncio
import sys

from quarvel.cli import common


def add_parser(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "view", help="serve a live viewer page (depth, amplitude, 3D, controls)",
        description="Serves a web page showing colourised depth and amplitude live, the "
                    "distance under the pointer, frame rate and drops, the point cloud in 3D "
                    "and the camera's controls. Open http://BOARD:PORT/ in a browser.")
    common.add_camera_arguments(parser)
    parser.add_argument("--port", type=int, default=8080, help="TCP port (default 8080; 0: any)")
    parser.add_argument("--host", default="0.0.0.0",
                        help="address to listen on (default 0.0.0.0, every interface; "
                             "127.0.0.1 keeps the page to this machine)")
    parser.add_argument("--three-dir", metavar="DIR",
                        help="three.js tree to serve (default $QUARVEL_THREE_DIR or "
                             "/usr/share/javascript/three from Debian's libjs-three)")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        from quarvel.viewer import server
    except ImportError as error:
        raise common.CommandError(f"the viewer needs aiohttp ({error}): install Debian's "
                                  f"python3-aiohttp.") from None
    three = server.three_directory(args.three_dir)
    camera = common.open_camera(args)
    viewer = server.Viewer(camera, three)

    def ready(port: int) -> None:
        host = "localhost" if args.host in ("0.0.0.0", "::") else args.host
        print(f"quarvel view: serving http://{host}:{port}/ (Ctrl-C to stop)", flush=True)

    try:
        asyncio.run(server.serve(viewer, args.host, args.port, ready))
    except OSError as error:
        viewer.worker.camera.close()
        raise common.CommandError(f"cannot listen on {args.host}:{args.port}: "
                                  f"{error.strerror or error}.") from None
    finally:
        if viewer.worker.thread.is_alive():
            viewer.worker.stop()
    if viewer.worker.error:
        print(f"quarvel view: {viewer.worker.error}", file=sys.stderr)
        return common.EXIT_FAILURE
    return common.EXIT_OK
