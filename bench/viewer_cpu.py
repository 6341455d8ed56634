"""CPU share of the `quarvel view` server while one client receives the 30 fps stream.

The server runs as its own process on the simulated USB camera (the default 240x180 camera at
30 fps); a websocket client in this process takes every frame it is sent. The server's CPU
time (user + system, from /proc) over the wall time of the measurement is its share of one
core. The simulated camera synthesises its frames inside the same process, so the same camera
is also measured alone (a plain Python consumer taking depth and amplitude from every frame):
the difference is what the viewer itself costs.

Figures (JSON on standard output): server_share, camera_alone_share, viewer_share (all in
fractions of one core), fps_received, client_drops, camera_drops, seconds.
Usage: viewer_cpu.py BUILD_DIR [SECONDS]
"""
import asyncio
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


CAMERA_ALONE = """
import sys, time
import QuarvelDepthCamera as qdc
camera = qdc.QuarvelCamera()
assert camera.open(qdc.TOFConnect.USB, 0) == qdc.TOFErrorCode.QuarvelSuccess
camera.start(qdc.TOFOutput.DEPTH)
print("ready", flush=True)
end = time.monotonic() + float(sys.argv[1])
while time.monotonic() < end:
    frame = camera.requestFrame(1000)
    if frame is not None:
        frame.getDepthData(); frame.getAmplitudeData(); frame.getFrameFormat()
        camera.releaseFrame(frame)
camera.stop(); camera.close()
"""


def measure_process(process, warm_up, seconds):
    time.sleep(warm_up)
    cpu0, wall0 = cpu_seconds(process.pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(process.pid) - cpu0) / (time.monotonic() - wall0)


async def receive(url, warm_up, seconds, pid):
    import aiohttp
    sys.path.insert(0, os.environ["PYTHONPATH"].split(os.pathsep)[0])
    from quarvel.viewer.frames import parse_message
    async with aiohttp.ClientSession() as session:
        async with session.ws_connect(url.replace("http", "ws", 1) + "ws",
                                      max_msg_size=1 << 24) as socket:
            started = time.monotonic()
            frames, last, cpu0, wall0 = 0, None, None, None
            while True:
                message = await socket.receive()
                now = time.monotonic()
                if cpu0 is None and now - started >= warm_up:
                    cpu0, wall0, frames = cpu_seconds(pid), now, 0
                if message.type != aiohttp.WSMsgType.BINARY:
                    continue
                frames += 1
                last = parse_message(message.data)
                if wall0 is not None and now - wall0 >= seconds:
                    share = (cpu_seconds(pid) - cpu0) / (now - wall0)
                    return share, frames / (now - wall0), last


def main():
    build = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    warm_up = 3.0
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    env.pop("QUARVEL_SIMULATED_BOARD", None)

    alone = subprocess.Popen([sys.executable, "-c", CAMERA_ALONE, str(seconds + warm_up + 2)],
                             stdout=subprocess.PIPE, text=True, env=env)
    alone.stdout.readline()
    camera_share = measure_process(alone, warm_up, seconds)
    alone.wait()

    server = subprocess.Popen([sys.executable, "-m", "quarvel", "view", "--port", "0",
                               "--host", "127.0.0.1"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    try:
        line = server.stdout.readline()
        if "serving http://" not in line:
            raise SystemExit(f"the viewer did not start: {line}{server.stderr.read()}")
        url = line.split("serving ")[1].split()[0]
        os.environ["PYTHONPATH"] = env["PYTHONPATH"]
        share, fps, last = asyncio.run(receive(url, warm_up, seconds, server.pid))
    finally:
        server.terminate()
        server.wait(timeout=30)
    print(json.dumps({"server_share": share, "camera_alone_share": camera_share,
                      "viewer_share": share - camera_share, "fps_received": fps,
                      "client_drops": last["client_drops"], "camera_drops": last["camera_drops"],
                      "seconds": seconds}))


if __name__ == "__main__":
    main()
