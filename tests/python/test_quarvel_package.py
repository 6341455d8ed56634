"""The quarvel package's Python face: opening by name, context managers, frame iteration,
exceptions that carry the camera's status."""
import os

import numpy as np
import pytest

import quarvel
from conftest import WALL_DISTANCE_MM, wall_distance_per_pixel, write_camera_config, \
    write_wall_config


class TestSources:
    @pytest.mark.parametrize("source, expected", [
        ("usb:0", ("usb", 0, None)),
        ("csi:3", ("csi", 3, None)),
        ("cameras/wall.cfg", ("usb", 0, "cameras/wall.cfg")),
        ("C:/odd:name", ("usb", 0, "C:/odd:name")),
    ])
    def test_short_names_and_paths(self, source, expected):
        assert quarvel.parse_source(source) == expected

    @pytest.mark.parametrize("source", ["", "usb:", "csi:x", "usb:-1", None, 3])
    def test_malformed_names_raise_value_error(self, source):
        with pytest.raises(ValueError):
            quarvel.parse_source(source)


class TestCamera:
    def test_frames_iterate_copies_of_the_wall_and_the_block_closes_the_camera(self, tmp_path):
        config = write_wall_config(tmp_path, fps=60)
        with quarvel.open(config) as camera:
            assert camera.size == (240, 180)
            frames = list(camera.frames(count=3))
            native = camera.native
        assert [frame.index for frame in frames] == [0, 1, 2]
        assert frames[0].timestamp < frames[1].timestamp < frames[2].timestamp
        for frame in frames:
            assert frame.depth.shape == frame.amplitude.shape == (180, 240)
            np.testing.assert_allclose(frame.depth, wall_distance_per_pixel(), atol=5.0)
        # Closed: the one simulated USB camera can be opened again at once.
        assert camera.native is None and native is not None
        with quarvel.open(str(config)) as again:
            assert next(iter(again)).depth[90, 120] == pytest.approx(WALL_DISTANCE_MM, abs=5.0)

    def test_failed_open_raises_with_the_cameras_status(self, tmp_path):
        broken = write_camera_config(tmp_path, bit_width=9)
        with pytest.raises(quarvel.QuarvelError) as failure:
            quarvel.open(broken)
        assert int(failure.value.status) == -1
        assert "opening" in str(failure.value)
        with pytest.raises(FileNotFoundError):
            quarvel.open(os.fspath(tmp_path / "missing.cfg"))

    def test_a_second_open_of_the_one_usb_camera_fails_while_the_first_is_open(self, tmp_path):
        config = write_wall_config(tmp_path, fps=60)
        with quarvel.open(config):
            with pytest.raises(quarvel.QuarvelError):
                quarvel.open(config)
