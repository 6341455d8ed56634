"""The example programs end to end on the simulated camera: statistics, images, raw files."""
import os
import re
import subprocess
import sys

import numpy as np
import pytest

from conftest import WALL_DISTANCE_MM, write_camera_config, write_wall_config

pytestmark = pytest.mark.slow

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")


def run_example(name, *args):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *map(str, args)],
                          capture_output=True, text=True, timeout=300)


def png_size(path):
    """(width, height) from the PNG header."""
    with open(path, "rb") as image:
        header = image.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n"
    return int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big")


def test_capture_depth_reports_the_wall_once_per_second_and_writes_images(tmp_path):
    config = write_wall_config(tmp_path)
    result = run_example("capture_depth.py", "--connect", "usb", "--index", 0, "--config",
                         config, "--frames", 75, "--images", tmp_path / "images")
    assert result.returncode == 0, result.stderr
    lines = re.findall(r"^\s*[\d.]+ s\s+([\d.]+) fps\s+centre\s+([\d.]+) mm\s+valid\s+"
                       r"([\d.]+) %$", result.stdout, re.MULTILINE)
    assert len(lines) >= 2, result.stdout  # 75 frames at 30 frames per second
    for rate, centre, valid in lines:
        assert float(rate) > 0 and abs(float(centre) - WALL_DISTANCE_MM) < 5.0
        assert float(valid) == 100.0  # the whole wall is lit
    assert "75 frames in" in result.stdout
    for name in ("depth.png", "amplitude.png"):
        width, height = png_size(tmp_path / "images" / name)
        assert width > 240 and height > 180


def test_capture_depth_without_returned_light_finds_no_valid_pixel(tmp_path):
    result = run_example("capture_depth.py", "--config", write_camera_config(tmp_path, signal=0),
                         "--frames", 40)
    assert result.returncode == 0, result.stderr
    assert re.search(r"centre no valid pixel\s+valid\s+0\.0 %$", result.stdout, re.MULTILINE), \
        result.stdout


@pytest.mark.parametrize("args,message", [
    (("--index", 99), "capture_depth: opening CSI camera 99 failed"),
    (("--config", "x.cfg"), "--config applies to USB cameras only")])
def test_capture_depth_refusals_end_with_the_reason(args, message):
    result = run_example("capture_depth.py", "--connect", "csi", *args)
    assert result.returncode == 1 and message in result.stderr


def test_save_images_writes_depth_and_amplitude_images(tmp_path):
    result = run_example("save_images.py", "--frames", 3, "--output", tmp_path)
    assert result.returncode == 0, result.stderr
    written = result.stdout.split()
    assert written == [str(tmp_path / "depth.png"), str(tmp_path / "amplitude.png")]
    for path in written:
        png_size(path)


def test_capture_raw_prints_each_frame_and_saves_the_last(tmp_path):
    target = tmp_path / "raw.npy"
    result = run_example("capture_raw.py", "--config",
                         write_camera_config(tmp_path, scene="wall", noise="off"),
                         "--frames", 4, "--save", target)
    assert result.returncode == 0, result.stderr
    frames = re.findall(r"^frame\s+(\d+)\s+time\s+(\d+)\s+240x720 int16", result.stdout,
                        re.MULTILINE)
    assert [int(number) for number, _ in frames] == [1, 2, 3, 4]
    stamps = [int(stamp) for _, stamp in frames]
    assert stamps == sorted(stamps)
    raw = np.load(target)
    assert raw.dtype == np.int16 and raw.shape == (720, 240) and (raw % 16 == 0).all()


def test_point_cloud_writes_the_wall_as_a_ply_at_its_distance(tmp_path):
    from test_geometry import read_ply
    config = write_wall_config(tmp_path, fps=60)
    output = tmp_path / "wall.ply"
    result = run_example("point_cloud.py", "--camera", config, "--frames", 3,
                         "--output", output, "--picture", tmp_path / "wall.png")
    assert result.returncode == 0, result.stderr
    assert re.search(r"^43200 points of 240x180 written to ", result.stdout, re.M)
    vertices = read_ply(output)
    assert len(vertices) == 43200
    np.testing.assert_allclose(vertices["z"], WALL_DISTANCE_MM / 1000, atol=0.005)
    assert png_size(tmp_path / "wall.png") == (800, 600)


def test_point_cloud_refuses_a_missing_camera_description(tmp_path):
    result = run_example("point_cloud.py", "--camera", tmp_path / "missing.cfg")
    assert result.returncode == 1
    assert "cannot open" in result.stderr
