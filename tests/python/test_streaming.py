"""Streaming from the simulated USB camera: frame classes, formats, arrays with known
answers, copies that outlive their frame, timeouts, controls and configuration files."""
import ctypes
import os

import numpy as np
import pytest

import QuarvelDepthCamera as qdc
from conftest import (DEPTH_TOLERANCE_MM, Success, drop_every_frame, next_frame,
                      open_camera, simulated_sdk, wall_distance_per_pixel, write_camera_config)


class TestFrames:
    def test_depth_planes_have_the_format_shape_and_the_wall_distance(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        assert type(frame) is qdc.DepthData
        frame_format = frame.getFrameFormat()
        assert (frame_format.width, frame_format.height, frame_format.type) == \
            (240, 180, qdc.TOFOutput.DEPTH)
        depth, amplitude, confidence = \
            frame.getDepthData(), frame.getAmplitudeData(), frame.getConfidenceData()
        assert wall_camera.releaseFrame(frame) == Success
        for plane in (depth, amplitude, confidence):
            assert plane.dtype == np.float32 and plane.shape == (180, 240)
            assert plane.flags.owndata and plane.flags.c_contiguous and plane.flags.writeable
        assert np.abs(depth - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM
        assert (amplitude > 0).all()  # the wall is well within reach: every pixel is lit
        # The 240x180 processing reports its amplitude as confidence as well.
        np.testing.assert_array_equal(confidence, amplitude)

    def test_raw_phases_give_the_wall_distance(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.RAW) == Success
        frame = next_frame(wall_camera)
        assert type(frame) is qdc.RawData
        frame_format = frame.getFrameFormat()
        # Four phase sub-frames of 180 lines.
        assert (frame_format.width, frame_format.height, frame_format.type) == \
            (240, 720, qdc.TOFOutput.RAW)
        raw = frame.getRawData()
        wall_camera.releaseFrame(frame)
        assert raw.dtype == np.int16 and raw.shape == (720, 240) and raw.flags.owndata
        # 11-bit samples scaled by 16.
        assert (raw % 16 == 0).all() and raw.min() >= -16384 and raw.max() <= 16368
        # Lines alternate between the sub-frames: line 4r + k is sub-frame k's line r.
        subframes = raw.astype(np.float64).reshape(180, 4, 240).transpose(1, 0, 2)
        phase = np.mod(np.arctan2(subframes[2] - subframes[0], subframes[3] - subframes[1]),
                       2 * np.pi)
        distance = phase / (2 * np.pi) * 4000.0  # a full turn is 4 m at 37.5 MHz
        assert np.abs(distance - wall_distance_per_pixel()).max() < DEPTH_TOLERANCE_MM

    def test_timestamps_increase_and_info_describes_the_stream(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        info = wall_camera.getCameraInfo()
        assert (info.connect, info.device_type, info.type) == \
            (qdc.TOFConnect.USB, qdc.TOFDeviceType.HQVGA, qdc.TOFOutput.DEPTH)
        assert (info.width, info.height, info.bit_width, info.bpp) == (240, 180, 12, 2)
        stamps = []
        for _ in range(4):
            frame = next_frame(wall_camera)
            stamps.append(frame.getFrameFormat().timestamp)
            wall_camera.releaseFrame(frame)
        assert stamps[0] > 0 and all(a < b for a, b in zip(stamps, stamps[1:]))

    def test_vga_planes_take_the_vga_formats(self, tmp_path, monkeypatch):
        # Every start writes the phase library's configuration files into the working directory.
        monkeypatch.chdir(tmp_path)
        camera = open_camera(write_camera_config(tmp_path, sensor="vga", scene="wall",
                                                 wall_distance_mm=1000, noise="off", fps=60))
        assert camera.getCameraInfo().device_type == qdc.TOFDeviceType.VGA
        assert camera.start(qdc.TOFOutput.RAW) == Success
        frame = next_frame(camera)
        raw, raw_format = frame.getRawData(), frame.getFrameFormat()
        camera.releaseFrame(frame)
        info = camera.getCameraInfo()
        assert (raw_format.width, raw_format.height) == (info.width, info.height)
        assert raw.dtype == np.int16 and raw.shape == (raw_format.height, raw_format.width)
        assert camera.stop() == Success
        assert camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(camera)
        planes = (frame.getDepthData(), frame.getAmplitudeData(), frame.getConfidenceData())
        camera.releaseFrame(frame)
        assert camera.close() == Success
        for plane in planes:
            assert plane.dtype == np.float32 and plane.shape == (480, 640)
        # Single frequency reaches 1250 mm: the wall at 1000 mm is read directly.
        assert np.abs(planes[0][236:244, 316:324] - 1000.0).max() < DEPTH_TOLERANCE_MM


class TestArraysAreCopies:
    def test_arrays_keep_their_values_after_release_later_frames_and_stop(self, usb_camera):
        # The default simulated camera has sensor noise: no two frames are alike.
        assert usb_camera.start(qdc.TOFOutput.RAW) == Success
        frame = next_frame(usb_camera)
        raw = frame.getRawData()
        saved = raw.copy()
        assert usb_camera.releaseFrame(frame) == Success
        # Later frames are captured into the same three buffers, the first one's included.
        for _ in range(6):
            later = next_frame(usb_camera)
            assert not np.array_equal(later.getRawData(), saved)
            usb_camera.releaseFrame(later)
        assert usb_camera.stop() == Success
        np.testing.assert_array_equal(raw, saved)

    def test_arrays_share_no_memory_with_the_frame_or_each_other(self, wall_camera):
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        frame = next_frame(wall_camera)
        first, second = frame.getDepthData(), frame.getDepthData()
        assert not np.shares_memory(first, second)
        first[:] = -1.0
        np.testing.assert_array_equal(frame.getDepthData(), second)
        wall_camera.releaseFrame(frame)


class TestControlsAndTimeouts:
    @pytest.mark.parametrize("timeout", [0, 250])
    def test_no_ready_frame_gives_none_at_the_timeout(self, wall_camera, timeout):
        drop_every_frame(wall_camera)
        assert wall_camera.start(qdc.TOFOutput.DEPTH) == Success
        assert wall_camera.requestFrame(timeout) is None

    def test_controls_reach_the_device_and_its_status_comes_back(self, usb_camera):
        assert usb_camera.getControl(qdc.TOFControl.RANGE) == 4000
        assert usb_camera.setControl(qdc.TOFControl.RANGE, 2000) == Success
        assert usb_camera.getControl(qdc.TOFControl.RANGE) == 2000
        # The 240x180 processing accepts no work mode: its refusal comes back unchanged.
        assert usb_camera.setControl(qdc.TOFControl.MODE, qdc.TofWorkMode.HDR) == \
            qdc.TOFErrorCode.QuarvelInvalidParameter


def path_received_by_sdk():
    """(path, flag) of the last open, asked from the stand-in USB SDK the module loaded."""
    buffer, flag = ctypes.create_string_buffer(4096), ctypes.c_int(-1)
    assert simulated_sdk().QuarvelSimLastOpenParam(buffer, ctypes.c_size_t(len(buffer)),
                                                   ctypes.byref(flag)) == 0
    return buffer.value, flag.value


class TestOpenWithFile:
    @pytest.mark.parametrize("kind", [str, bytes, bytearray])
    def test_path_reaches_the_sdk_as_its_bytes(self, tmp_path, kind):
        directory = tmp_path / "kamera-ĉ-深度"
        directory.mkdir()
        config = write_camera_config(directory, scene="wall", noise="off")
        path = str(config) if kind is str else kind(os.fsencode(config))
        camera = qdc.QuarvelCamera()
        assert camera.openWithFile(path, 0) == Success
        assert path_received_by_sdk() == (str(config).encode("utf-8"), 0)
        assert camera.close() == Success
