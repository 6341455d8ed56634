"""Misuse under way: frames released from another thread, the camera closed, restarted or
dropped by a signal handler while requestFrame waits, the camera deleted while another
thread waits, and a long random mix of valid and invalid calls. Misuse raises ValueError
(or the documented RuntimeError), never crashes, and valid frames keep their true depth."""
import gc
import os
import random
import signal
import threading
import time
import weakref

import numpy as np
import pytest

import QuarvelDepthCamera as qdc
from conftest import (DEPTH_TOLERANCE_MM, Failure, Success, drop_every_frame, next_frame,
                      open_camera, simulated_sdk, wall_distance_per_pixel)

pytestmark = pytest.mark.slow

EXPIRED = "^frame is no longer valid: "


def stress_scale():
    """QUARVEL_STRESS_SCALE multiplies every count, as in the C++ stress tests."""
    try:
        value = float(os.environ.get("QUARVEL_STRESS_SCALE", "1"))
    except ValueError:
        return 1.0
    return value if value > 0 else 1.0


def assert_true_depth(frame):
    depth = frame.getDepthData()
    assert np.abs(depth - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM


def drop_and_drain(camera):
    """Makes the camera drop every frame and takes back the frames already ready, so that
    the next request can only wait."""
    captures = simulated_sdk().QuarvelSimCallCount
    drop_every_frame(camera)
    # A frame that was past the skip test when the skip was set is queued before the capture
    # thread reads from the camera again.
    seen = captures(b"QuarvelCaptureImage")
    deadline = time.monotonic() + 30
    while captures(b"QuarvelCaptureImage") == seen:
        assert time.monotonic() < deadline, "the capture thread stopped reading"
        time.sleep(0.002)
    while (frame := camera.requestFrame(0)) is not None:
        assert camera.releaseFrame(frame) == Success


def during_wait(handler, delay_s=0.15):
    """Runs `handler` from SIGALRM while the main thread waits in requestFrame."""
    fired = []

    def on_alarm(signum, frame):
        fired.append(True)
        handler()

    previous = signal.signal(signal.SIGALRM, on_alarm)
    signal.setitimer(signal.ITIMER_REAL, delay_s)
    return fired, previous


def restore(previous):
    signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, previous)


class TestOtherThreads:
    def test_release_from_another_thread_expires_the_holders_frame(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        results = []
        releaser = threading.Thread(target=lambda: results.append(wall_camera.releaseFrame(frame)))
        releaser.start()
        releaser.join()
        assert results == [Success]
        with pytest.raises(ValueError, match=EXPIRED + "it was released"):
            frame.getDepthData()
        assert wall_camera.releaseFrame(frame) == Failure
        assert_true_depth(next_frame(wall_camera))

    def test_camera_deleted_while_another_thread_waits(self, wall_config):
        # The wait lets this thread run and drop its name; the waiting thread's bound method
        # keeps the camera until the wait ends with no frame, and then the camera goes.
        camera = open_camera(wall_config)
        drop_every_frame(camera)
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        outcome, reading = [], threading.Event()

        def wait():
            request = camera.requestFrame  # before the name is deleted below
            reading.set()
            outcome.append(request(300))

        waiter = threading.Thread(target=wait)
        alive = weakref.ref(camera)
        waiter.start()
        reading.wait()
        del camera
        gc.collect()
        waiter.join()
        assert outcome == [None]
        del outcome[:]
        gc.collect()
        assert alive() is None


class TestSignalHandlerDuringTheWait:
    def test_close_from_the_handler_lets_the_wait_end_at_its_timeout(self, wall_camera):
        drop_every_frame(wall_camera)
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        fired, previous = during_wait(lambda: wall_camera.close())
        try:
            assert wall_camera.requestFrame(600) is None
        finally:
            restore(previous)
        assert fired == [True]
        assert wall_camera.close() == Success

    def test_restart_from_the_handler_delivers_from_the_new_stream(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        held = next_frame(wall_camera)
        drop_and_drain(wall_camera)

        def restart():
            assert wall_camera.stop() == Success
            assert wall_camera.releaseFrame(held) == Success
            assert wall_camera.setControl(qdc.TOFControl.SKIP_FRAME, 0) == Success
            assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success

        fired, previous = during_wait(restart)
        try:
            frame = wall_camera.requestFrame(5000)
        finally:
            restore(previous)
        assert fired == [True]
        assert frame is not None and frame is not held
        assert_true_depth(frame)
        with pytest.raises(ValueError, match=EXPIRED + "its camera was started again"):
            held.getDepthData()
        assert wall_camera.releaseFrame(frame) == Success

    def test_release_from_the_handler_expires_the_frame_it_released(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        held = next_frame(wall_camera)
        drop_and_drain(wall_camera)
        statuses = []
        fired, previous = during_wait(lambda: statuses.append(wall_camera.releaseFrame(held)))
        try:
            assert wall_camera.requestFrame(400) is None
        finally:
            restore(previous)
        assert statuses == [Success]
        with pytest.raises(ValueError, match=EXPIRED + "it was released"):
            held.getDepthData()

    def test_last_reference_dropped_in_the_handler_ends_the_camera_after_the_wait(self,
                                                                                  wall_config):
        holder = [open_camera(wall_config)]
        camera = holder[0]
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        held = next_frame(camera)
        drop_and_drain(camera)
        alive = weakref.ref(camera)
        request = camera.requestFrame
        del camera
        fired, previous = during_wait(lambda: holder.clear())
        try:
            assert request(400) is None  # the bound method keeps the camera until it returns
        finally:
            restore(previous)
        assert fired == [True]
        del request
        gc.collect()
        assert alive() is None
        with pytest.raises(ValueError, match=EXPIRED + "its camera was destroyed"):
            held.getDepthData()


def test_random_misuse_never_crashes_and_valid_frames_stay_true(wall_config):
    """A long random mix: requests, releases of valid, released and foreign frames, plane
    reads of valid and expired frames, stop/start, close/open and whole new cameras."""
    rng = random.Random(8)
    operations = max(50, int(1500 * stress_scale()))
    counts = {"valid reads": 0, "refused reads": 0, "refused releases": 0, "restarts": 0,
              "new cameras": 0}
    camera = open_camera(wall_config)
    assert camera.start(qdc.TOFOutput.DEPTH) == Success
    streaming = True
    held, old = [], []  # frames the camera handed out; frames whose buffer is gone
    for _ in range(operations):
        action = rng.randrange(100)
        if action < 35:
            frame = camera.requestFrame(rng.choice([0, 5, 50]))
            if frame is not None and frame not in held:
                held.append(frame)
                # A released frame still referenced comes back as the same object.
                old = [other for other in old if other is not frame]
        elif action < 55 and held:
            frame = held.pop(rng.randrange(len(held)))
            assert camera.releaseFrame(frame) == Success
            old.append(frame)
        elif action < 70 and held:
            assert_true_depth(rng.choice(held))
            counts["valid reads"] += 1
        elif action < 80 and old:
            frame = rng.choice(old)
            with pytest.raises(ValueError, match=EXPIRED):
                rng.choice([frame.getDepthData, frame.getAmplitudeData,
                            frame.getConfidenceData, frame.getFrameFormat])()
            assert camera.releaseFrame(frame) == Failure
            counts["refused reads"] += 1
            counts["refused releases"] += 1
        elif action < 90:
            if streaming:
                assert camera.stop() == Success
            else:
                with pytest.raises(RuntimeError):
                    camera.stop()
            streaming = False
            if rng.randrange(2):
                assert camera.start(qdc.TOFOutput.DEPTH) == Success
                streaming = True
                old.extend(held)  # the new pool freed them
                held = []
                counts["restarts"] += 1
        elif action < 96:
            assert camera.close() == Success
            streaming = False
            assert camera.openWithFile(str(wall_config)) == Success
        else:
            old.extend(held)  # their camera is about to go
            held = []
            del camera
            gc.collect()
            camera = open_camera(wall_config)
            assert camera.start(qdc.TOFOutput.DEPTH) == Success
            streaming = True
            counts["new cameras"] += 1
        if len(old) > 64:
            del old[:32]
    for frame in held:
        assert camera.releaseFrame(frame) == Success
    assert camera.close() == Success
    print(f"[stress] python misuse: {operations} operations, {counts}")
    assert counts["valid reads"] > 0 and counts["refused reads"] > 0
