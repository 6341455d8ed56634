"""Frames used after their buffer is gone: after release, after the next start, after the
camera's destruction. Each raises ValueError saying why; valid use stays unchanged."""
import gc
import weakref

import numpy as np
import pytest

import QuarvelDepthCamera as qdc
from conftest import wall_distance_per_pixel

Success = qdc.TOFErrorCode.QuarvelSuccess
Failure = qdc.TOFErrorCode.QuarvelUnkownError
TIMEOUT_MS = 3000

DEPTH_METHODS = ["getDepthData", "getAmplitudeData", "getConfidenceData", "getFrameFormat"]
RAW_METHODS = ["getRawData", "getFrameFormat"]


def next_frame(camera):
    frame = camera.requestFrame(TIMEOUT_MS)
    assert frame is not None, "no frame within the timeout"
    return frame


def assert_expired(frame, methods, reason):
    for method in methods:
        with pytest.raises(ValueError, match=reason):
            getattr(frame, method)()


class TestAfterRelease:
    def test_depth_frame_refuses_use_after_release(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        depth = frame.getDepthData()
        assert wall_camera.releaseFrame(frame) == Success
        assert_expired(frame, DEPTH_METHODS, "released")
        # What was copied before stays.
        assert np.abs(depth - wall_distance_per_pixel()).max() < 5.0

    def test_raw_frame_refuses_use_after_release(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.RAW) == Success
        frame = next_frame(wall_camera)
        assert wall_camera.releaseFrame(frame) == Success
        assert_expired(frame, RAW_METHODS, "released")

    def test_second_release_is_refused_by_the_core(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        assert wall_camera.releaseFrame(frame) == Success
        assert wall_camera.releaseFrame(frame) == Failure

    def test_frame_handed_out_again_is_the_same_usable_object(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        first = next_frame(wall_camera)
        assert wall_camera.releaseFrame(first) == Success
        for _ in range(12):
            frame = next_frame(wall_camera)
            if frame is first:
                break
            assert_expired(first, ["getDepthData"], "released")
            wall_camera.releaseFrame(frame)
        else:
            pytest.fail("the pool's three buffers never handed out the first one again")
        assert first.getDepthData().shape == (180, 240)  # usable again
        assert wall_camera.releaseFrame(first) == Success

    def test_frame_stays_usable_after_stop_and_close(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        assert wall_camera.stop() == Success
        assert wall_camera.close() == Success
        # The pool lives until the next start: the frame is still the user's.
        assert np.abs(frame.getDepthData() - wall_distance_per_pixel()).max() < 5.0
        assert wall_camera.releaseFrame(frame) == Success


class TestAfterNextStart:
    def test_frame_of_the_previous_stream_refuses_use(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        kept = next_frame(wall_camera)  # never released
        assert wall_camera.stop() == Success
        assert wall_camera.start(qdc.TOFOutput.RAW) == Success
        assert_expired(kept, DEPTH_METHODS, "started again")

    def test_releasing_an_old_frame_never_releases_a_new_one(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        old_frames = [next_frame(wall_camera) for _ in range(3)]
        assert wall_camera.stop() == Success
        # Same output type, same sizes: the new buffers may reuse the old addresses.
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        new_frames = [next_frame(wall_camera) for _ in range(3)]
        for old in old_frames:
            assert wall_camera.releaseFrame(old) == Failure
        for new in new_frames:
            assert new.getDepthData().shape == (180, 240)  # still handed out
            assert wall_camera.releaseFrame(new) == Success

    def test_failed_start_keeps_frames_usable(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        assert wall_camera.stop() == Success
        # Refused before a new pool is built: the old buffers live on.
        assert wall_camera.start(qdc.TOFOutput(3)) == Failure
        assert frame.getDepthData().shape == (180, 240)
        assert wall_camera.releaseFrame(frame) == Success


class TestAfterCameraDestruction:
    def test_frames_refuse_use_after_the_camera_is_deleted(self, wall_config):
        camera = qdc.QuarvelCamera()
        assert camera.openWithFile(str(wall_config)) == Success
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(camera)
        depth = frame.getDepthData()
        saved = depth.copy()
        del camera  # still streaming, frame still held
        gc.collect()
        assert_expired(frame, DEPTH_METHODS, "destroyed")
        np.testing.assert_array_equal(depth, saved)

    def test_frame_does_not_keep_its_camera_alive(self, wall_config):
        camera = qdc.QuarvelCamera()
        assert camera.openWithFile(str(wall_config)) == Success
        assert camera.start(qdc.TOFOutput.RAW) == Success
        frame = next_frame(camera)
        alive = weakref.ref(camera)
        del camera
        gc.collect()
        assert alive() is None
        assert_expired(frame, RAW_METHODS, "destroyed")

    def test_deleting_a_streaming_camera_stops_and_closes_it(self, wall_config):
        camera = qdc.QuarvelCamera()
        assert camera.openWithFile(str(wall_config)) == Success
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        held = [next_frame(camera) for _ in range(2)]
        del camera
        gc.collect()
        # The simulated USB camera takes one user at a time: it was closed.
        again = qdc.QuarvelCamera()
        assert again.openWithFile(str(wall_config)) == Success
        assert again.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(again)
        assert all(frame is not old for old in held)
        for old in held:
            assert again.releaseFrame(old) == Failure  # another camera's frame
            assert_expired(old, ["getDepthData"], "destroyed")
        assert again.releaseFrame(frame) == Success
        assert again.stop() == Success
        assert again.close() == Success


class TestOtherCamerasFrames:
    def test_release_on_another_camera_is_refused_and_leaves_the_frame(self, wall_config):
        first = qdc.QuarvelCamera()
        assert first.openWithFile(str(wall_config)) == Success
        assert first.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(first)
        assert first.close() == Success  # stops too; the pool and the frame stay
        second = qdc.QuarvelCamera()
        assert second.openWithFile(str(wall_config)) == Success
        assert second.start(qdc.TOFOutput.DEPTH) == Success
        assert second.releaseFrame(frame) == Failure
        assert frame.getDepthData().shape == (180, 240)
        assert first.releaseFrame(frame) == Success
        assert second.stop() == Success
        assert second.close() == Success
