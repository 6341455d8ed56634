"""The example programs end to end on the simulated camera: statistics, images, raw files."""
import os
import re
import subprocess
import sys

import numpy as np
import pytest

from conftest import WALL_DISTANCE_MM, write_camera_config

pytestmark = pytest.mark.slow

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def run_example(name, *args):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *map(str, args)],
                          capture_output=True, text=True, timeout=300)


def png_size(path):
    """(width, height) from the PNG header."""
    with open(path, "rb") as image:
        header = image.read(24)
    assert header[:8] == PNG_SIGNATURE
    return int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big")


class TestCaptureDepth:
    def test_reports_the_wall_once_per_second_and_writes_images(self, tmp_path):
        config = write_camera_config(tmp_path, scene="wall",
                                     wall_distance_mm=int(WALL_DISTANCE_MM), noise="off")
        result = run_example("capture_depth.py", "--connect", "usb", "--index", 0, "--config",
                             config, "--frames", 75, "--images", tmp_path / "images")
        assert result.returncode == 0, result.stderr
        lines = re.findall(r"^\s*[\d.]+ s\s+([\d.]+) fps\s+centre\s+([\d.]+) mm\s+valid\s+"
                           r"([\d.]+) %$", result.stdout, re.MULTILINE)
        # 75 frames at 30 frames per second: two whole seconds.
        assert len(lines) >= 2, result.stdout
        for rate, centre, valid in lines:
            assert float(rate) > 0
            assert abs(float(centre) - WALL_DISTANCE_MM) < 5.0
            assert float(valid) == 100.0  # the whole wall is lit
        assert "75 frames in" in result.stdout
        for name in ("depth.png", "amplitude.png"):
            width, height = png_size(tmp_path / "images" / name)
            assert width > 240 and height > 180

    def test_standard_scene_centre_is_the_back_wall(self):
        # The default simulated camera looks at a room whose back wall is 3 m away.
        result = run_example("capture_depth.py", "--frames", 40)
        assert result.returncode == 0, result.stderr
        centres = [float(c) for c in re.findall(r"centre\s+([\d.]+) mm", result.stdout)]
        assert centres and all(2900 < centre < 3100 for centre in centres), result.stdout

    def test_no_returned_light_means_no_valid_pixel(self, tmp_path):
        config = write_camera_config(tmp_path, signal=0)
        result = run_example("capture_depth.py", "--config", config, "--frames", 40)
        assert result.returncode == 0, result.stderr
        lines = re.findall(r"centre no valid pixel\s+valid\s+0\.0 %$", result.stdout,
                           re.MULTILINE)
        assert len(lines) >= 1, result.stdout

    def test_unavailable_camera_ends_with_the_reason(self):
        result = run_example("capture_depth.py", "--connect", "csi", "--index", 99)
        assert result.returncode == 1
        assert "capture_depth: opening CSI camera 99 failed" in result.stderr

    def test_config_with_csi_is_refused(self, tmp_path):
        result = run_example("capture_depth.py", "--connect", "csi", "--config", "x.cfg")
        assert result.returncode == 1
        assert "--config applies to USB cameras only" in result.stderr


class TestSaveImages:
    def test_writes_depth_and_amplitude_images(self, tmp_path):
        result = run_example("save_images.py", "--frames", 3, "--output", tmp_path)
        assert result.returncode == 0, result.stderr
        written = result.stdout.split()
        assert written == [str(tmp_path / "depth.png"), str(tmp_path / "amplitude.png")]
        for path in written:
            png_size(path)


class TestCaptureRaw:
    def test_prints_each_frame_and_saves_the_last(self, tmp_path):
        config = write_camera_config(tmp_path, scene="wall", noise="off")
        target = tmp_path / "raw.npy"
        result = run_example("capture_raw.py", "--config", config, "--frames", 4,
                             "--save", target)
        assert result.returncode == 0, result.stderr
        frames = re.findall(r"^frame\s+(\d+)\s+time\s+(\d+)\s+240x720 int16", result.stdout,
                            re.MULTILINE)
        assert [int(number) for number, _ in frames] == [1, 2, 3, 4]
        stamps = [int(stamp) for _, stamp in frames]
        assert stamps == sorted(stamps)
        raw = np.load(target)
        assert raw.dtype == np.int16 and raw.shape == (720, 240)
        assert (raw % 16 == 0).all()
