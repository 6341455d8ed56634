"""Python threads beside a frame wait: they keep running while requestFrame waits, and stop,
close, start, releaseFrame or dropping the camera from another thread in the middle of a wait
leave the waiting thread with a usable frame or None, never a crash. Under the sanitizer
stage these run against the AddressSanitizer build of the module."""
import threading
import time

import numpy as np
import pytest

import QuarvelDepthCamera as qdc
from conftest import (DEPTH_TOLERANCE_MM, Success, drop_every_frame, next_frame, open_camera,
                      wall_distance_per_pixel)

pytestmark = pytest.mark.slow

# Upper bound on a wait that must end; a frame arrives long before on any machine.
LONG_WAIT_MS = 30000


class Counter:
    """A thread that counts as fast as the interpreter lets it."""

    def __init__(self):
        self.count = 0
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while self.running:
            self.count += 1

    def rate_during(self, action):
        before, started = self.count, time.monotonic()
        action()
        return (self.count - before) / (time.monotonic() - started)

    def stop(self):
        self.running = False
        self.thread.join()


def in_thread(function):
    """Runs `function` in a new thread; returns the thread and the list its result goes to."""
    result = []
    thread = threading.Thread(target=lambda: result.append(function()))
    thread.start()
    return thread, result


class TestOtherThreadsRunDuringTheWait:
    def test_counting_thread_keeps_at_least_half_its_speed(self, wall_config):
        camera = open_camera(wall_config)
        drop_every_frame(camera)
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        counter = Counter()
        try:
            # The same thread's speed just before, with this thread asleep, is the measure; a
            # wait that kept the interpreter lock left it well under 1 %. Another process
            # taking the CPU during one window can skew one pair, so three pairs are allowed.
            ratios = []
            for _ in range(3):
                alone = counter.rate_during(lambda: time.sleep(0.5))
                waiting = counter.rate_during(lambda: camera.requestFrame(500))
                ratios.append(waiting / alone)
                if ratios[-1] >= 0.5:
                    break
            assert max(ratios) >= 0.5, ratios
        finally:
            counter.stop()
            camera.close()

    def test_release_from_another_thread_ends_the_wait_with_that_buffer(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        held = [next_frame(wall_camera) for _ in range(3)]
        # Every buffer is ours: only a release can end this wait.
        waiter, result = in_thread(lambda: wall_camera.requestFrame(LONG_WAIT_MS))
        assert wall_camera.releaseFrame(held[0]) == Success
        waiter.join()
        assert result[0] is held[0]  # the same buffer, refilled, as the same object
        depth = result[0].getDepthData()
        assert np.abs(depth - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM
        for frame in held:
            assert wall_camera.releaseFrame(frame) == Success


class TestLifecycleFromAnotherThreadDuringTheWait:
    def test_stop_close_and_start_leave_the_waiter_with_a_usable_frame_or_none(self,
                                                                             wall_config):
        camera = open_camera(wall_config)
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        finished = threading.Event()
        outcomes = {"frames": 0, "expired": 0, "none": 0}

        def wait_repeatedly():
            while not finished.is_set():
                frame = camera.requestFrame(200)
                if frame is None:
                    outcomes["none"] += 1
                    continue
                try:
                    assert frame.getDepthData().shape == (180, 240)
                    camera.releaseFrame(frame)
                    outcomes["frames"] += 1
                except ValueError:  # a start since the frame came: it says so
                    outcomes["expired"] += 1

        waiter = threading.Thread(target=wait_repeatedly)
        waiter.start()
        try:
            for cycle in range(12):
                assert camera.stop() == Success
                if cycle % 4 == 3:
                    assert camera.close() == Success
                    assert camera.openWithFile(str(wall_config)) == Success
                if cycle % 2:
                    drop_every_frame(camera)  # the waiter can only wait
                else:
                    assert camera.setControl(qdc.TOFControl.SKIP_FRAME, 0) == Success
                assert camera.start(qdc.TOFOutput.DEPTH) == Success
                # Not a bound on anything: spreads the calls over the waiter's slices.
                time.sleep(0.02)
        finally:
            finished.set()
            waiter.join()
        assert camera.setControl(qdc.TOFControl.SKIP_FRAME, 0) == Success
        frame = next_frame(camera, LONG_WAIT_MS)
        assert np.abs(frame.getDepthData() - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM
        assert camera.releaseFrame(frame) == Success
        assert camera.close() == Success


class TestHeldFrames:
    def test_holding_two_of_three_frames_still_gets_a_third_on_nearly_every_request(self):
        # The built-in simulated camera at 30 fps. The frame queued in the one circulating
        # buffer stays ready while the next raw frame is read; reclaimed at once, as it used
        # to be, about one request in ten got it within 2 s.
        camera = open_camera()
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        previous, current = next_frame(camera, LONG_WAIT_MS), next_frame(camera, LONG_WAIT_MS)
        served = 0
        for _ in range(100):
            frame = camera.requestFrame(2000)
            if frame is None:
                continue
            served += 1
            difference = frame.getDepthData() - current.getDepthData()
            assert difference.shape == (180, 240)
            assert camera.releaseFrame(previous) == Success
            previous, current = current, frame
        assert served >= 99
        assert camera.releaseFrame(previous) == Success
        assert camera.releaseFrame(current) == Success
        assert camera.close() == Success
