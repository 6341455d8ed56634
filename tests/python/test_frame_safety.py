"""Frames used after their buffer is gone: after release, after the next start, after the
camera's destruction. Each raises ValueError saying why; valid use stays unchanged."""
import gc
import weakref

import numpy as np
import pytest

import QuarvelDepthCamera as qdc
from conftest import (DEPTH_TOLERANCE_MM, Failure, Success, closing, next_frame, open_camera,
                      wall_distance_per_pixel, write_wall_config)

DEPTH_METHODS = ["getDepthData", "getAmplitudeData", "getConfidenceData", "getFrameFormat"]
RAW_METHODS = ["getRawData", "getFrameFormat"]


@pytest.fixture
def slow_wall_camera(tmp_path):
    """The noiseless wall at 5 fps: a frame stays ready for 200 ms before the capture thread,
    short of buffers, would take it back."""
    yield from closing(open_camera(write_wall_config(tmp_path, fps=5)))


def assert_expired(frame, methods, reason):
    for method in methods:
        with pytest.raises(ValueError, match="^frame is no longer valid: " + reason):
            getattr(frame, method)()


class TestAfterRelease:
    @pytest.mark.parametrize("output,methods", [(qdc.TOFOutput.DEPTH, DEPTH_METHODS),
                                                (qdc.TOFOutput.RAW, RAW_METHODS)])
    def test_released_frame_refuses_use_and_a_second_release(self, wall_camera, output, methods):
        assert wall_camera.start(output) == Success
        frame = next_frame(wall_camera)
        assert wall_camera.releaseFrame(frame) == Success
        assert_expired(frame, methods, "it was released with releaseFrame")
        assert wall_camera.releaseFrame(frame) == Failure

    def test_frame_handed_out_again_is_the_same_usable_object(self, slow_wall_camera):
        camera = slow_wall_camera
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        first = next_frame(camera)
        depth = first.getDepthData()
        assert camera.releaseFrame(first) == Success
        # The free list is last in, first out: the released buffer is the next one filled as
        # long as no other buffer is given back before it. Holding one frame at a time leaves
        # the capture thread a free buffer, so a ready frame waits a frame period for us.
        held = None
        for _ in range(6):
            frame = next_frame(camera)
            if frame is first:
                break
            assert_expired(first, ["getDepthData"], "it was released")
            assert frame is not held  # held together: distinct objects
            if held is not None:
                assert camera.releaseFrame(held) == Success
            held = frame
        else:
            pytest.fail("the pool's three buffers never handed out the first one again")
        assert frame is not held
        assert np.abs(first.getDepthData() - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM
        assert camera.releaseFrame(first) == Success
        if held is not None:
            assert camera.releaseFrame(held) == Success
        # What was copied before the release stays.
        assert np.abs(depth - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM


class TestAfterNextStart:
    def test_old_frames_refuse_use_and_their_release_never_frees_new_ones(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        # Two of the three buffers, so that each stream keeps one circulating.
        old_frames = [next_frame(wall_camera) for _ in range(2)]
        assert wall_camera.stop() == Success
        # Same output type, same sizes: the new buffers may reuse the old addresses.
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        new_frames = [next_frame(wall_camera) for _ in range(2)]
        for old in old_frames:
            assert all(new is not old for new in new_frames)
            assert_expired(old, DEPTH_METHODS, "its camera was started again")
            assert wall_camera.releaseFrame(old) == Failure
        for new in new_frames:
            assert new.getDepthData().shape == (180, 240)  # still handed out
            assert wall_camera.releaseFrame(new) == Success

    def test_refused_start_keeps_frames_usable_and_starts_no_thread(self, wall_camera):
        with pytest.raises(RuntimeError):
            wall_camera.stop()  # opened, never started
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        assert wall_camera.stop() == Success
        # An output type without a member is refused before a new pool is built.
        assert wall_camera.start(qdc.TOFOutput(3)) == Failure
        assert wall_camera.getCameraInfo().type.value == 3
        with pytest.raises(RuntimeError):
            wall_camera.stop()
        assert frame.getDepthData().shape == (180, 240)
        assert wall_camera.releaseFrame(frame) == Success


class TestAfterCameraDestruction:
    @pytest.mark.parametrize("output,methods", [(qdc.TOFOutput.DEPTH, DEPTH_METHODS),
                                                (qdc.TOFOutput.RAW, RAW_METHODS)])
    def test_deleting_a_streaming_camera_expires_its_frames_not_their_arrays(
            self, wall_config, output, methods):
        camera = open_camera(wall_config)
        assert camera.start(output) == Success
        frame = next_frame(camera)
        array = getattr(frame, methods[0])()
        saved = array.copy()
        alive = weakref.ref(camera)
        del camera  # still streaming, frame still held: the frame does not keep it alive
        gc.collect()
        assert alive() is None
        assert_expired(frame, methods, "its camera was destroyed")
        np.testing.assert_array_equal(array, saved)

    def test_deleted_camera_was_closed_and_its_frames_belong_to_no_other(self, wall_config):
        camera = open_camera(wall_config)
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        held = [next_frame(camera) for _ in range(2)]
        del camera
        gc.collect()
        # The simulated USB camera takes one user at a time: it was closed.
        again = open_camera(wall_config)
        assert again.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(again)
        for old in held:
            assert frame is not old
            assert again.releaseFrame(old) == Failure
            assert_expired(old, ["getDepthData"], "its camera was destroyed")
        assert again.releaseFrame(frame) == Success
        assert again.close() == Success


def test_frame_outlives_close_and_is_released_by_its_own_camera_only(wall_config):
    first = open_camera(wall_config)
    assert first.start(qdc.TOFOutput.DEPTH) == Success
    frame = next_frame(first)
    assert first.close() == Success  # stops too; the pool lives until the next start
    second = open_camera(wall_config)
    assert second.start(qdc.TOFOutput.DEPTH) == Success
    assert second.releaseFrame(frame) == Failure
    assert np.abs(frame.getDepthData() - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM
    assert first.releaseFrame(frame) == Success
    assert second.close() == Success
