"""Streaming from the simulated USB camera: frame classes, formats, arrays with known
answers, copies that outlive their frame, wrapper identity and timeouts."""
import ctypes
import os
import gc

import numpy as np
import pytest

import QuarvelDepthCamera as qdc
from conftest import drop_every_frame, wall_distance_per_pixel, write_camera_config

Success = qdc.TOFErrorCode.QuarvelSuccess
Failure = qdc.TOFErrorCode.QuarvelUnkownError
TIMEOUT_MS = 3000
# Noiseless wall: 11-bit phase samples leave a few millimetres of quantisation.
DEPTH_TOLERANCE_MM = 5.0


def next_frame(camera):
    frame = camera.requestFrame(TIMEOUT_MS)
    assert frame is not None, "no frame within the timeout"
    return frame


class TestDepthFrames:
    def test_depth_frame_class_and_format(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        assert type(frame) is qdc.DepthData
        frame_format = frame.getFrameFormat()
        assert isinstance(frame_format, qdc.QuarvelFormat)
        assert (frame_format.width, frame_format.height) == (240, 180)
        assert frame_format.type == qdc.TOFOutput.DEPTH
        assert frame_format.timestamp > 0
        assert wall_camera.releaseFrame(frame) == Success

    def test_planes_are_owned_float32_arrays_of_the_format_shape(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        frame_format = frame.getFrameFormat()
        for plane in (frame.getDepthData(), frame.getAmplitudeData(), frame.getConfidenceData()):
            assert plane.dtype == np.float32
            assert plane.shape == (frame_format.height, frame_format.width)
            assert plane.flags.owndata and plane.flags.c_contiguous and plane.flags.writeable
        wall_camera.releaseFrame(frame)

    def test_depth_is_the_distance_to_the_wall_at_every_pixel(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        depth = frame.getDepthData()
        amplitude = frame.getAmplitudeData()
        confidence = frame.getConfidenceData()
        wall_camera.releaseFrame(frame)
        error = np.abs(depth - wall_distance_per_pixel())
        assert error.max() < DEPTH_TOLERANCE_MM
        # The wall lies well within reach: every pixel sees light.
        assert (amplitude > 0).all()
        # The 240x180 processing reports its amplitude as confidence as well.
        np.testing.assert_array_equal(confidence, amplitude)

    def test_timestamps_increase_from_frame_to_frame(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        stamps = []
        for _ in range(4):
            frame = next_frame(wall_camera)
            stamps.append(frame.getFrameFormat().timestamp)
            wall_camera.releaseFrame(frame)
        assert stamps == sorted(stamps) and len(set(stamps)) == len(stamps)

    def test_camera_info_while_streaming(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        info = wall_camera.getCameraInfo()
        assert info.connect == qdc.TOFConnect.USB
        assert info.device_type == qdc.TOFDeviceType.HQVGA
        assert info.type == qdc.TOFOutput.DEPTH
        assert (info.width, info.height, info.bit_width, info.bpp) == (240, 180, 12, 2)


class TestRawFrames:
    def test_raw_frame_class_format_and_array(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.RAW) == Success
        frame = next_frame(wall_camera)
        assert type(frame) is qdc.RawData
        frame_format = frame.getFrameFormat()
        assert frame_format.type == qdc.TOFOutput.RAW
        # Four phase sub-frames of 180 lines.
        assert (frame_format.width, frame_format.height) == (240, 720)
        raw = frame.getRawData()
        wall_camera.releaseFrame(frame)
        assert raw.dtype == np.int16
        assert raw.shape == (frame_format.height, frame_format.width)
        assert raw.flags.owndata
        # 11-bit samples scaled by 16.
        assert (raw % 16 == 0).all()
        assert raw.min() >= -16384 and raw.max() <= 16368

    def test_raw_phases_give_the_wall_distance(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.RAW) == Success
        frame = next_frame(wall_camera)
        raw = frame.getRawData().astype(np.float64)
        wall_camera.releaseFrame(frame)
        # Lines alternate between the sub-frames: line 4r + k is sub-frame k's line r.
        subframes = raw.reshape(180, 4, 240).transpose(1, 0, 2)
        y = subframes[2] - subframes[0]
        x = subframes[3] - subframes[1]
        phase = np.mod(np.arctan2(y, x), 2 * np.pi)
        distance = phase / (2 * np.pi) * 4000.0  # a full turn is 4 m at 37.5 MHz
        assert np.abs(distance - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM


class TestArraysAreCopies:
    def test_arrays_keep_their_values_after_release_and_later_frames(self, usb_camera):
        # The default simulated camera has sensor noise: no two frames are alike.
        assert usb_camera.start(qdc.TOFOutput.RAW) == Success
        frame = next_frame(usb_camera)
        raw = frame.getRawData()
        saved = raw.copy()
        assert usb_camera.releaseFrame(frame) == Success
        # Later frames are captured into the same three buffers, the first one's included.
        for _ in range(6):
            later = next_frame(usb_camera)
            later_raw = later.getRawData()
            usb_camera.releaseFrame(later)
            assert not np.array_equal(later_raw, saved)
        np.testing.assert_array_equal(raw, saved)

    def test_arrays_share_no_memory_with_the_frame_or_each_other(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        first = frame.getDepthData()
        second = frame.getDepthData()
        assert not np.shares_memory(first, second)
        first[:] = -1.0
        np.testing.assert_array_equal(frame.getDepthData(), second)
        wall_camera.releaseFrame(frame)

    def test_arrays_survive_stop_and_camera_destruction(self, wall_config):
        camera = qdc.QuarvelCamera()
        assert camera.openWithFile(str(wall_config)) == Success
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(camera)
        depth, amplitude = frame.getDepthData(), frame.getAmplitudeData()
        saved = depth.copy(), amplitude.copy()
        assert camera.releaseFrame(frame) == Success
        assert camera.stop() == Success
        np.testing.assert_array_equal(depth, saved[0])
        del camera, frame
        gc.collect()
        np.testing.assert_array_equal(depth, saved[0])
        np.testing.assert_array_equal(amplitude, saved[1])
        assert np.abs(depth - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM


class TestIdentity:
    def test_a_live_wrapper_is_returned_again_for_its_buffer(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        held = []
        for _ in range(12):
            frame = next_frame(wall_camera)
            held.append(frame)
            assert wall_camera.releaseFrame(frame) == Success
        # The pool has three buffers, so twelve hand-outs reuse at most three objects.
        distinct = {id(frame) for frame in held}
        assert 1 <= len(distinct) <= 3

    def test_frames_held_together_are_distinct_objects(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frames = [next_frame(wall_camera) for _ in range(3)]
        assert len({id(frame) for frame in frames}) == 3
        for frame in frames:
            assert wall_camera.releaseFrame(frame) == Success

    def test_a_new_stream_never_returns_wrappers_of_the_old_one(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        old = []
        for _ in range(6):
            frame = next_frame(wall_camera)
            old.append(frame)
            wall_camera.releaseFrame(frame)
        assert wall_camera.stop() == Success
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        for _ in range(6):
            frame = next_frame(wall_camera)
            assert all(frame is not previous for previous in old)
            frame.getDepthData()  # usable
            wall_camera.releaseFrame(frame)


class TestTimeouts:
    @pytest.mark.parametrize("timeout", [0, 50, 250])
    def test_no_ready_frame_gives_none_at_the_timeout(self, wall_camera, timeout):
        drop_every_frame(wall_camera)
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        assert wall_camera.requestFrame(timeout) is None

    def test_fourth_request_times_out_while_three_frames_are_held(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frames = [next_frame(wall_camera) for _ in range(3)]
        assert wall_camera.requestFrame(300) is None
        for frame in frames:
            assert wall_camera.releaseFrame(frame) == Success
        assert wall_camera.requestFrame(TIMEOUT_MS) is not None

    def test_stopped_stream_times_out_once_drained(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        next_frame(wall_camera)  # the stream runs
        assert wall_camera.stop() == Success
        drained = 0
        while (frame := wall_camera.requestFrame(0)) is not None:
            wall_camera.releaseFrame(frame)
            drained += 1
        assert drained <= 3
        assert wall_camera.requestFrame(150) is None


class TestLifecycle:
    def test_output_type_without_member_is_refused_by_the_camera(self, usb_camera):
        assert usb_camera.start(qdc.TOFOutput(3)) == Failure
        assert usb_camera.getCameraInfo().type.value == 3
        with pytest.raises(RuntimeError):
            usb_camera.stop()  # no capture thread was started
        assert usb_camera.requestFrame(0) is None

    def test_stop_of_opened_camera_never_started_raises(self, usb_camera):
        with pytest.raises(RuntimeError):
            usb_camera.stop()
        assert usb_camera.close() == Success

    def test_controls_reach_the_device(self, usb_camera):
        assert usb_camera.getControl(qdc.TOFControl.RANGE) == 4000
        assert usb_camera.setControl(qdc.TOFControl.RANGE, 2000) == Success
        assert usb_camera.getControl(qdc.TOFControl.RANGE) == 2000
        # The 240x180 processing accepts no work mode: its refusal comes back unchanged.
        assert usb_camera.setControl(qdc.TOFControl.MODE, qdc.TofWorkMode.HDR) == \
            qdc.TOFErrorCode.QuarvelInvalidParameter

    def test_short_range_halves_the_unambiguous_distance(self, wall_camera):
        # At 2000 mm range the modulation doubles: the wall at 1500 mm is still in reach.
        assert wall_camera.setControl(qdc.TOFControl.RANGE, 2000) == Success
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        depth = frame.getDepthData()
        wall_camera.releaseFrame(frame)
        centre = depth[88:92, 118:122]
        assert np.abs(centre - 1500.0).max() < DEPTH_TOLERANCE_MM


def simulated_sdk():
    """The stand-in USB SDK loaded by the module, or None when a vendor SDK is in use."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            if "libquarvel_evk_sdk" in line:
                library = ctypes.CDLL(line.split()[-1])
                if hasattr(library, "QuarvelSimLastOpenParam"):
                    return library
    return None


def path_received_by_sdk():
    sdk = simulated_sdk()
    if sdk is None:
        pytest.skip("needs the simulated USB SDK's test bench")
    buffer = ctypes.create_string_buffer(4096)
    flag = ctypes.c_int(-1)
    assert sdk.QuarvelSimLastOpenParam(buffer, ctypes.c_size_t(len(buffer)),
                                       ctypes.byref(flag)) == 0
    return buffer.value, flag.value


class TestOpenWithFile:
    def test_text_path_reaches_the_sdk_as_utf8(self, tmp_path):
        directory = tmp_path / "kamera-ĉ-深度"
        directory.mkdir()
        config = write_camera_config(directory, scene="wall", noise="off")
        camera = qdc.QuarvelCamera()
        assert camera.openWithFile(str(config), 0) == Success
        assert path_received_by_sdk() == (str(config).encode("utf-8"), 0)
        assert camera.close() == Success

    @pytest.mark.parametrize("kind", [bytes, bytearray])
    def test_bytes_like_path_reaches_the_sdk_unchanged(self, tmp_path, kind):
        config = write_camera_config(tmp_path, scene="wall")
        camera = qdc.QuarvelCamera()
        assert camera.openWithFile(kind(os.fsencode(config))) == Success
        assert path_received_by_sdk()[0] == os.fsencode(config)
        assert camera.close() == Success

    def test_missing_file_fails_with_a_status(self, tmp_path):
        camera = qdc.QuarvelCamera()
        result = camera.openWithFile(str(tmp_path / "absent.cfg"), index=1)
        assert isinstance(result, qdc.TOFErrorCode) and result != Success
        assert camera.getCameraInfo().index == 1
        assert camera.getCameraInfo().connect == qdc.TOFConnect.USB
