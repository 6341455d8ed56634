"""The viewer's server without a browser: frame messages, one-slot mailboxes, and clients that
stall or vanish never holding up the camera or the other clients."""
import asyncio
import json
import os
import socket

import numpy as np
import pytest

from quarvel.viewer.frames import HEADER, Mailbox, Published, frame_payload, parse_message


def test_frame_messages_carry_depth_in_whole_mm_and_the_counts():
    depth = np.array([[0.0, 1499.6, np.nan], [70000.0, -3.0, 1.4]], np.float32)
    amplitude = np.array([[10.2, np.inf, 0.0], [65535.9, 300.5, np.nan]], np.float32)
    message = Published(7, 1234.5, 3, 2, 4, 29.5, frame_payload(depth, amplitude)).message(9)
    assert len(message) == HEADER.size + 2 * 2 * 6
    parsed = parse_message(message)
    assert (parsed["sequence"], parsed["timestamp"], parsed["width"], parsed["height"]) == \
        (7, 1234.5, 3, 2)
    assert (parsed["camera_drops"], parsed["client_drops"]) == (4, 9)
    assert parsed["rate"] == pytest.approx(29.5)
    # No depth (NaN, negative) is 0; beyond the uint16 range it saturates.
    assert parsed["depth"].tolist() == [[0, 1500, 0], [65535, 0, 1]]
    assert parsed["amplitude"].tolist() == [[10, 65535, 0], [65535, 300, 0]]
    with pytest.raises(ValueError):
        parse_message(b"XXXX" + message[4:])


def test_a_mailbox_keeps_the_newest_frame_and_counts_the_ones_it_replaced():
    wakes = []
    mailbox = Mailbox(lambda: wakes.append(1))
    frames = [Published(n, n, 1, 1, 0, 0.0, b"\0\0\0\0") for n in range(1, 5)]
    assert mailbox.take() is None
    mailbox.put(frames[0])
    assert mailbox.take() is frames[0] and mailbox.dropped == 0
    for frame in frames[1:]:
        mailbox.put(frame)
    assert mailbox.take() is frames[3]
    assert mailbox.dropped == 2 and len(wakes) == 4
    assert mailbox.take() is None


async def receive_frames(url, count):
    import aiohttp
    async with aiohttp.ClientSession() as session:
        async with session.ws_connect(url.replace("http", "ws", 1) + "ws") as ws:
            frames = []
            while len(frames) < count:
                message = await ws.receive()
                assert message.type == aiohttp.WSMsgType.BINARY, message
                frames.append(parse_message(message.data))
            await ws.send_str(json.dumps({"name": "RANGE", "value": 2500}))
            while True:
                message = await ws.receive()
                if message.type == aiohttp.WSMsgType.TEXT:
                    return frames, json.loads(message.data)


def stalled_client(url):
    """A websocket client that connects and then never reads (its socket's buffers fill)."""
    host, port = url.split("//")[1].rstrip("/").split(":")
    connection = socket.create_connection((host, int(port)))
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    connection.sendall((f"GET /ws HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                        "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                        "Sec-WebSocket-Version: 13\r\n\r\n").encode())
    assert b"101" in connection.recv(64)
    return connection


def wall_viewer(tmp_path):
    """The viewer on the simulated USB camera facing a flat wall at 1500 mm, 30 frames/s."""
    from viewer_process import ViewerProcess
    config = tmp_path / "wall.cfg"
    config.write_text("scene = wall\nwall_distance_mm = 1500\nnoise = off\nfps = 30\n")
    env = dict(os.environ)
    env.pop("QUARVEL_SIMULATED_BOARD", None)
    return ViewerProcess("--config", str(config), env=env)


@pytest.mark.slow
def test_stalled_and_vanished_clients_never_stall_the_camera(tmp_path):
    pytest.importorskip("aiohttp", reason="the viewer needs python3-aiohttp")
    with wall_viewer(tmp_path) as server:
        stalled = [stalled_client(server.url) for _ in range(2)]
        # One client vanishes mid-stream.
        gone = stalled_client(server.url)
        gone.close()
        frames, answer = asyncio.run(receive_frames(server.url, 90))
        # Whatever the stalled clients do, this one got a running stream from the camera:
        # frame numbers go up, and the frames hold the wall (1500 mm at the centre).
        sequences = [frame["sequence"] for frame in frames]
        assert sequences == sorted(set(sequences))
        assert sequences[-1] - sequences[0] >= 89
        assert all(abs(int(frame["depth"][90, 120]) - 1500) <= 5 for frame in frames)
        # Controls still reach the camera thread and come back with its answer.
        assert answer == {"type": "control", "name": "RANGE", "requested": 2500, "ok": True,
                          "status": answer["status"], "value": 2500}
        # A second run of a client sees later frames: the camera kept going.
        later, _ = asyncio.run(receive_frames(server.url, 3))
        assert later[0]["sequence"] > sequences[-1]
        for connection in stalled:
            connection.close()
        code, stderr = server.stop()
    assert code == 0, stderr
    assert "Traceback" not in stderr


async def skip_then_receive(url, settings, count):
    """Sets the controls in turn (each answer awaited), then takes `count` frames."""
    import aiohttp
    async with aiohttp.ClientSession() as session:
        async with session.ws_connect(url.replace("http", "ws", 1) + "ws") as ws:
            answers = []
            for name, value in settings:
                await ws.send_str(json.dumps({"name": name, "value": value}))
                while True:
                    message = await ws.receive()
                    if message.type == aiohttp.WSMsgType.TEXT:
                        answers.append(json.loads(message.data))
                        break
            frames = []
            while len(frames) < count:
                message = await ws.receive()
                if message.type == aiohttp.WSMsgType.BINARY:
                    frames.append(parse_message(message.data))
            return answers, frames


@pytest.mark.slow
def test_skipping_two_of_every_three_frames_through_the_page_controls(tmp_path):
    pytest.importorskip("aiohttp", reason="the viewer needs python3-aiohttp")
    with wall_viewer(tmp_path) as server:
        answers, frames = asyncio.run(skip_then_receive(
            server.url, [("SKIP_FRAME_LOOP", 3), ("SKIP_FRAME", 2)], 16))
        code, stderr = server.stop()
    assert [(a["name"], a["ok"], a["value"]) for a in answers] == [
        ("SKIP_FRAME_LOOP", True, 3), ("SKIP_FRAME", True, 2)]
    # The first frames may predate the change; after it, kept frames are a cycle of three
    # 33 ms periods apart (more on a loaded machine, never less), and still show the wall.
    stamps = [frame["timestamp"] for frame in frames[6:]]
    gaps = [later - earlier for earlier, later in zip(stamps, stamps[1:])]
    assert min(gaps) >= 90, gaps
    assert all(abs(int(frame["depth"][90, 120]) - 1500) <= 5 for frame in frames)
    assert code == 0, stderr


def test_the_viewer_without_three_js_says_so_in_one_sentence(tmp_path):
    pytest.importorskip("aiohttp", reason="the viewer needs python3-aiohttp")
    from test_cli import one_sentence, quarvel
    result = quarvel("view", "--port", "0", "--three-dir", str(tmp_path))
    assert result.returncode == 1
    line = one_sentence(result.stderr)
    assert "three.js is missing" in line and "libjs-three" in line
