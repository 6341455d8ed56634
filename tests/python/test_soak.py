"""Soak: open, start, stream, stop and close over and over, then one long stream under random
control changes; descriptors, threads and resident memory must come back to where they were.

The short run is part of the stress stage (QUARVEL_STRESS_SCALE multiplies it). The long run:
    QUARVEL_SOAK_CYCLES=500 QUARVEL_SOAK_SECONDS=600 scripts/soak.sh
"""
import gc
import json
import os
import random
import time

import pytest

import QuarvelDepthCamera as qdc
from conftest import Success, write_camera_config

SCALE = float(os.environ.get("QUARVEL_STRESS_SCALE", "1"))
CYCLES = int(os.environ.get("QUARVEL_SOAK_CYCLES", max(4, round(24 * SCALE))))
STREAM_SECONDS = float(os.environ.get("QUARVEL_SOAK_SECONDS", 8 * SCALE))
# Bounds on growth from the warmed-up state to the end. Descriptors and threads must come
# back exactly; resident memory may move by what the allocator keeps cached (a VGA pool is
# about 30 MiB and glibc hands large blocks back, small ones it keeps).
MAX_DESCRIPTOR_GROWTH = 0
MAX_THREAD_GROWTH = 0
MAX_RESIDENT_GROWTH_MIB = 16.0
# AddressSanitizer holds freed memory in quarantine: resident memory says nothing there.
UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")

pytestmark = pytest.mark.soak


def usage():
    gc.collect()
    with open("/proc/self/statm") as statm:
        resident_pages = int(statm.read().split()[1])
    return {"descriptors": len(os.listdir("/proc/self/fd")),
            "threads": len(os.listdir("/proc/self/task")),
            "resident_mib": resident_pages * os.sysconf("SC_PAGE_SIZE") / 2**20}


def open_simulated(description):
    camera = qdc.QuarvelCamera()
    status = camera.open(qdc.TOFConnect.USB, 0) if description is None else \
        camera.openWithFile(str(description))
    assert status == Success, status.str()
    return camera


def take_frames(camera, output, count):
    for _ in range(count):
        frame = camera.requestFrame(5000)
        assert frame is not None, "no frame within 5 s"
        plane = frame.getRawData() if output == qdc.TOFOutput.RAW else frame.getDepthData()
        assert plane.size > 0
        assert camera.releaseFrame(frame) == Success


def cycle(description, output):
    camera = open_simulated(description)
    assert camera.start(output) == Success
    take_frames(camera, output, 2)
    assert camera.stop() == Success
    assert camera.close() == Success
    del camera


# Random changes that leave the stream delivering: the rate within what the camera
# allows, frame skipping that keeps some frames, a new work mode, an exposure.
# The simulated VGA camera's USB frame is fixed, so its work mode stays (a dual-frequency
# stream would need a larger frame than it sends, and the next start would refuse).
def random_control_change(camera, rng, mode_changes):
    choice = rng.randrange(5)
    if choice == 0:
        return camera.setControl(qdc.TOFControl.FRAME_RATE, rng.randint(10, 30))
    if choice == 1:
        camera.setControl(qdc.TOFControl.SKIP_FRAME_LOOP, rng.randint(2, 4))
        return camera.setControl(qdc.TOFControl.SKIP_FRAME, rng.randint(0, 1))
    if choice == 2 and mode_changes:
        return camera.setControl(qdc.TOFControl.MODE, rng.randint(0, 1))
    if choice == 3:
        return camera.setControl(qdc.TOFControl.EXPOSURE, rng.randint(0, 4000))
    return camera.getControl(qdc.TOFControl.FRAME_RATE)


def long_stream(description, seconds, rng):
    mode_changes = description is None
    camera = open_simulated(description)
    frames = restarts = changes = 0
    output = qdc.TOFOutput.DEPTH
    assert camera.start(output) == Success
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        take_frames(camera, output, 1)
        frames += 1
        if rng.random() < 0.2:
            random_control_change(camera, rng, mode_changes)
            changes += 1
        if rng.random() < 0.01:
            # A new stream picks up what the controls changed (mode, geometry).
            assert camera.stop() == Success
            output = rng.choice([qdc.TOFOutput.DEPTH, qdc.TOFOutput.RAW])
            camera.setControl(qdc.TOFControl.SKIP_FRAME, 0)
            assert camera.start(output) == Success
            restarts += 1
    assert camera.close() == Success
    return {"frames": frames, "control_changes": changes, "restarts": restarts}


def test_cycles_and_a_long_stream_leave_no_descriptor_thread_or_memory_behind(
        tmp_path, monkeypatch):
    # The VGA device writes its configuration files into the working directory.
    monkeypatch.chdir(tmp_path)
    rng = random.Random(20)
    vga = write_camera_config(tmp_path, sensor="vga", fps=30, noise="off", seed=3)
    cameras = [None, vga]  # the built-in 240x180 camera and a 640x480 one
    outputs = [qdc.TOFOutput.DEPTH, qdc.TOFOutput.RAW]
    # Warm up: libraries, numpy and the allocator's first arenas.
    for description in cameras:
        for output in outputs:
            cycle(description, output)
    before = usage()

    started = time.monotonic()
    for number in range(CYCLES):
        cycle(cameras[number % 2], outputs[(number // 2) % 2])
    after_cycles = usage()
    cycle_seconds = time.monotonic() - started

    stream = long_stream(None, STREAM_SECONDS / 2, rng)
    vga_stream = long_stream(vga, STREAM_SECONDS / 2, rng)
    after = usage()

    figures = {"cycles": CYCLES, "cycle_seconds": round(cycle_seconds, 1),
               "stream_seconds": STREAM_SECONDS, "hqvga_stream": stream,
               "vga_stream": vga_stream, "before": before, "after_cycles": after_cycles,
               "after": after}
    print(json.dumps(figures))
    report = os.environ.get("QUARVEL_SOAK_REPORT")
    if report:
        with open(report, "w") as out:
            json.dump(figures, out, indent=2)

    for state in (after_cycles, after):
        assert state["descriptors"] - before["descriptors"] <= MAX_DESCRIPTOR_GROWTH, figures
        assert state["threads"] - before["threads"] <= MAX_THREAD_GROWTH, figures
        if not UNDER_ASAN:
            assert state["resident_mib"] - before["resident_mib"] <= MAX_RESIDENT_GROWTH_MIB, \
                figures
    # At least one frame a second came through the changes.
    assert stream["frames"] + vga_stream["frames"] >= STREAM_SECONDS, figures
