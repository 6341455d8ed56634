"""A Python consumer of the 240x180 depth stream, as fast as the library delivers.

The module builds its camera from the production components only, so the frames come from
the simulated USB camera in replay mode: four frames synthesised at open, handed out again
and again without pacing or synthesis. What is measured is the library between that camera
and Python: the USB transport, the capture thread, the depth computation, the frame pool and
the module (requestFrame, three plane copies into numpy arrays, releaseFrame).

Figures (JSON on standard output):
- fps: frames per second to a consumer that requests a frame, reads depth, amplitude and
  confidence, and releases it;
- latency_median_us, latency_p99_us: from the moment the camera handed over the last
  sub-frame of a frame (recorded by the stand-in SDK on the monotonic clock) to the moment
  requestFrame returned that frame to Python.

Usage: python_consumer.py BUILD_DIR [SECONDS]
"""
import ctypes
import json
import os
import sys
import tempfile
import time


class Delivery(ctypes.Structure):
    _fields_ = [("frame", ctypes.c_uint64), ("subframe", ctypes.c_int32),
                ("shortRange", ctypes.c_int32), ("handedOverNs", ctypes.c_int64)]


def percentile(sorted_values, fraction):
    return sorted_values[min(len(sorted_values) - 1, int(len(sorted_values) * fraction))]


def consume(camera, seconds, measure_latency, find_delivery):
    """Requests, reads all three planes and releases for `seconds`; frames and latencies."""
    latencies = []
    frames = 0
    delivery = Delivery()
    monotonic_ns = time.monotonic_ns
    end = monotonic_ns() + int(seconds * 1e9)
    while monotonic_ns() < end:
        frame = camera.requestFrame(200)
        if frame is None:
            continue
        returned = monotonic_ns()
        frame.getDepthData()
        frame.getAmplitudeData()
        frame.getConfidenceData()
        if measure_latency:
            timestamp = frame.getFrameFormat().timestamp
        camera.releaseFrame(frame)
        frames += 1
        if measure_latency and find_delivery(timestamp, ctypes.byref(delivery)) == 0:
            latencies.append(returned - delivery.handedOverNs)
    return frames, latencies


def main():
    build = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
    sys.path.insert(0, os.path.join(build, "python"))
    import QuarvelDepthCamera as qdc

    # The stand-in SDK the module is linked with (loaded once: same file, same library).
    sdk = ctypes.CDLL(os.path.join(build, "sdk", "usb", "libquarvel_evk_sdk.so"))
    find_delivery = sdk.QuarvelSimFindDelivery
    find_delivery.argtypes = [ctypes.c_uint64, ctypes.POINTER(Delivery)]
    find_delivery.restype = ctypes.c_int

    with tempfile.TemporaryDirectory() as scratch:
        description = os.path.join(scratch, "replay.conf")
        with open(description, "w") as out:
            out.write("sensor = hqvga\npacing = replay\n")
        camera = qdc.QuarvelCamera()
        if camera.openWithFile(description, 0) != 0:
            sys.exit("python consumer: the replaying camera did not open")
    if camera.start(qdc.TOFOutput.DEPTH) != 0:
        sys.exit("python consumer: the stream did not start")

    consume(camera, 0.3, False, find_delivery)  # warm-up: caches, numpy's first import
    started = time.monotonic_ns()
    frames, _ = consume(camera, seconds, False, find_delivery)
    wall = (time.monotonic_ns() - started) * 1e-9
    started = time.monotonic_ns()
    latency_frames, latencies = consume(camera, seconds, True, find_delivery)
    latency_wall = (time.monotonic_ns() - started) * 1e-9
    camera.stop()
    camera.close()
    if not latencies:
        sys.exit("python consumer: no hand-over time found for any frame")
    latencies.sort()
    print(json.dumps({
        "fps": frames / wall,
        "frames": frames,
        "latency_median_us": percentile(latencies, 0.5) / 1000.0,
        "latency_p99_us": percentile(latencies, 0.99) / 1000.0,
        "latency_frames": len(latencies),
        "fps_while_measuring_latency": latency_frames / latency_wall,
    }))


if __name__ == "__main__":
    main()
