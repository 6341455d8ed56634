"""Does a simulated camera keep time? Frames from the built-in simulated USB camera and from a
simulated Raspberry Pi 5 CSI board, both at their default 30 fps, taken through the module
for a stretch of wall-clock time.

Figures per camera (JSON on standard output):
- wall_fps: frames delivered per second of wall-clock time (monotonic clock);
- stamped_fps: frames per second by the frames' own timestamps;
- drift_ms: how far the timestamps fell behind (positive) or ran ahead of real arrival between
  the first and the last tenth of the run (medians of arrival - timestamp);
- min_lag_ms: the smallest arrival - timestamp seen; below 0 a frame arrived before its time.

Usage: pacing.py BUILD_DIR [SECONDS]
"""
import json
import os
import statistics
import subprocess
import sys
import time

CAMERAS = {"usb": None, "csi_pi5": "pi5:hqvga"}


def measure(seconds):
    """In the child: streams for `seconds` and returns the figures."""
    import QuarvelDepthCamera as qdc
    camera = qdc.QuarvelCamera()
    connect = qdc.TOFConnect.CSI if os.environ.get("QUARVEL_SIMULATED_BOARD") else \
        qdc.TOFConnect.USB
    assert camera.open(connect, 0) == qdc.TOFErrorCode.QuarvelSuccess
    # The automatic frame-rate switch has no member name; its value is 9.
    camera.setControl(qdc.TOFControl(9), 0)
    assert camera.start(qdc.TOFOutput.DEPTH) == qdc.TOFErrorCode.QuarvelSuccess
    # The built-in simulated cameras run at 30 fps; the 240x180 device reports no rate of
    # its own until one is set.
    rate = camera.getControl(qdc.TOFControl.FRAME_RATE) or 30
    samples = []  # (arrival ms, timestamp ms)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        frame = camera.requestFrame(2000)
        if frame is None:
            continue
        arrival = time.monotonic() * 1000.0
        samples.append((arrival, frame.getFrameFormat().timestamp))
        camera.releaseFrame(frame)
    camera.stop()
    camera.close()
    count = len(samples)
    tenth = max(1, count // 10)
    lags = [arrival - stamp for arrival, stamp in samples]
    return {
        "configured_fps": rate,
        "frames": count,
        "wall_fps": (count - 1) * 1000.0 / (samples[-1][0] - samples[0][0]),
        "stamped_fps": (count - 1) * 1000.0 / (samples[-1][1] - samples[0][1]),
        "drift_ms": statistics.median(lags[-tenth:]) - statistics.median(lags[:tenth]),
        "min_lag_ms": min(lags),
    }


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        print(json.dumps(measure(float(sys.argv[2]))))
        return
    build = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    results = {}
    for name, board in CAMERAS.items():
        env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
        env.pop("QUARVEL_SIMULATED_BOARD", None)
        if board:
            env["QUARVEL_SIMULATED_BOARD"] = board
        child = subprocess.run([sys.executable, __file__, "--child", str(seconds)], env=env,
                               capture_output=True, text=True)
        if child.returncode != 0:
            raise SystemExit(f"pacing: {name} failed: {child.stderr.strip()}")
        results[name] = json.loads(child.stdout)
    print(json.dumps(results))


if __name__ == "__main__":
    main()
