"""The quarvel command end to end on the simulated cameras: every subcommand, exit codes,
one-sentence errors, and the files capture writes checked against the scene."""
import json
import os
import struct
import subprocess
import sys
import zlib

import numpy as np
import pytest

from conftest import wall_distance_per_pixel

WALL_CONFIG = "scene = wall\nwall_distance_mm = 1500\nnoise = off\n"
BOARDS = ["pi4", "pi5", "nano", "tx1", "xavier", "orin", "rock"]
MEDIA_BOARDS = ["pi4", "pi5", "rock"]
# Fault, the boards it applies to, and words the diagnosis must contain.
FAULTS = [
    ("no-video-node", BOARDS, ["[FAIL] video node", "there is no /dev/video0", "dtoverlay"]),
    ("foreign-node", BOARDS, ["[FAIL] sensor", "imx219", "not a Quarvel camera"]),
    ("video-denied", BOARDS, ["permission denied on /dev/video0", "usermod -aG video"]),
    ("i2c-denied", BOARDS, ["permission denied on /dev/i2c-", "usermod -aG i2c"]),
    ("no-i2c-dev", BOARDS, ["i2c-dev module is not loaded", "modprobe i2c-dev"]),
    ("media-link", MEDIA_BOARDS, ["link", "media-ctl"]),
    ("no-i2c-bus", BOARDS, ["I2C bus", "does not exist"]),
]
SENSOR_BUS = {"pi4": 10, "pi5": 4, "nano": 6, "tx1": 6, "xavier": 30, "orin": 30, "rock": 7}


def quarvel(*arguments, board=None, timeout=120):
    """Runs `python3 -m quarvel ARGUMENTS` (on the simulated board `board`, if given)."""
    env = dict(os.environ)
    env.pop("QUARVEL_SIMULATED_BOARD", None)
    if board:
        env["QUARVEL_SIMULATED_BOARD"] = board
    return subprocess.run([sys.executable, "-m", "quarvel", *arguments], capture_output=True,
                          text=True, env=env, timeout=timeout)


def one_sentence(stderr):
    """The error line, checked to be a single sentence without a traceback."""
    assert "Traceback" not in stderr, stderr
    lines = [line for line in stderr.replace("\r", "\n").splitlines() if line.strip()]
    assert len(lines) == 1, stderr
    assert lines[0].startswith("quarvel ") and lines[0].endswith("."), lines[0]
    return lines[0]


@pytest.fixture
def wall_config(tmp_path):
    path = tmp_path / "wall.cfg"
    path.write_text(WALL_CONFIG)
    return str(path)


def test_every_subcommand_has_help():
    for command in ["list", "doctor", "capture", "record", "play", "stats", "view"]:
        result = quarvel(command, "--help")
        assert result.returncode == 0, result.stderr
        assert result.stdout.startswith(f"usage: quarvel {command}")
        if command in ("capture", "record", "stats", "view"):
            for option in ("--connect", "--index", "--config"):
                assert option in result.stdout, (command, option)
    assert quarvel("no-such-command").returncode == 2


@pytest.mark.slow
def test_list_finds_the_board_and_its_csi_camera_on_every_simulated_board():
    models = {"pi4": "Raspberry Pi 4", "pi5": "Raspberry Pi 5", "nano": "Jetson Nano",
              "tx1": "Jetson TX1", "xavier": "Xavier NX", "orin": "AGX Orin",
              "rock": "ROCK 5B"}
    for board in BOARDS:
        result = quarvel("list", "--json", board=f"{board}:hqvga")
        assert result.returncode == 0, result.stderr
        report = json.loads(result.stdout)
        assert models[board] in report["board"]["model"]
        assert report["board"]["code"] != 0
        [csi] = report["csi"]
        assert csi["video_node"] == "/dev/video0"
        assert csi["i2c_node"] == f"/dev/i2c-{SENSOR_BUS[board]}"
        assert (csi["width"], csi["height"], csi["bit_width"]) == (240, 180, 12)
        if board in MEDIA_BOARDS:
            assert csi["media_node"] == "/dev/media0"
            # Pi 5 and ROCK have a bridge before the sensor; Pi 4 the sensor alone.
            assert len(csi["subdevices"]) == (1 if board == "pi4" else 2)
        else:
            assert csi["media_node"] is None and csi["subdevices"] == []
        assert [camera["index"] for camera in report["usb"]] == [0]
    text = quarvel("list", board="pi5:vga")
    assert "CSI camera 0: VGA 640x480, 12-bit" in text.stdout
    assert "media /dev/media0" in text.stdout and "I2C /dev/i2c-4 chip 0x0c" in text.stdout


def test_list_without_a_board_reports_no_csi_camera():
    result = quarvel("list", "--json")
    assert result.returncode == 0, result.stderr
    report = json.loads(result.stdout)
    assert report["usb"][0]["sensor"] == "HQVGA 240x180"


@pytest.mark.slow
def test_doctor_passes_every_healthy_simulated_board():
    for board in BOARDS:
        result = quarvel("doctor", board=f"{board}:hqvga")
        assert result.returncode == 0, (board, result.stdout, result.stderr)
        assert "[FAIL]" not in result.stdout
        for step in ("board", "video node", "I2C bus", "open", "stream"):
            assert f"[ ok ] {step}:" in result.stdout, (board, step, result.stdout)
        assert result.stdout.rstrip().endswith("verdict: the CSI camera on /dev/video0 is ready.")


def doctor_in_this_process(board, capsys, monkeypatch):
    """`quarvel doctor` run here (the simulated board is chosen per call, so one process
    serves every board): exit code, standard output and standard error."""
    from quarvel.__main__ import main
    monkeypatch.setenv("QUARVEL_SIMULATED_BOARD", board)
    code = main(["doctor"])
    captured = capsys.readouterr()
    return subprocess.CompletedProcess(["doctor"], code, captured.out, captured.err)


def test_doctor_names_each_injected_fault_and_its_fix_on_every_board(capsys, monkeypatch):
    for fault, boards, words in FAULTS:
        for board in boards:
            result = doctor_in_this_process(f"{board}:hqvga+{fault}", capsys, monkeypatch)
            where = (fault, board, result.stdout)
            assert result.returncode == 3, where
            assert result.stdout.count("[FAIL]") == 1, where
            assert "       fix: " in result.stdout, where
            assert result.stdout.rstrip().splitlines()[-1].startswith("verdict: not usable: ")
            for word in words:
                assert word in result.stdout, (word,) + where
            if fault in ("i2c-denied", "no-i2c-bus"):
                assert f"i2c-{SENSOR_BUS[board]}" in result.stdout or \
                    f"bus {SENSOR_BUS[board]}" in result.stdout, where


@pytest.mark.slow
def test_the_installed_command_reports_a_fault_with_exit_code_3():
    result = quarvel("doctor", board="rock:hqvga+i2c-denied")
    assert result.returncode == 3 and result.stderr == ""
    assert "[FAIL] I2C bus: permission denied on /dev/i2c-7" in result.stdout


def test_a_fault_that_does_not_apply_or_is_unknown_is_no_simulated_board():
    # Jetson boards have no media graph; an unknown fault name is a mistake.
    for name in ("nano:hqvga+media-link", "pi5:hqvga+no-such-fault"):
        result = quarvel("capture", "--connect", "csi", "--output", "/nonexistent", board=name)
        assert result.returncode == 1
        assert "unknown board or sensor" in result.stderr


def test_doctor_says_an_unknown_board_is_not_supported():
    result = quarvel("doctor")
    assert result.returncode == 3
    assert "[FAIL] board:" in result.stdout and "does not support" in result.stdout


def read_png(path):
    """(width, height, RGB array) of an 8-bit RGB PNG without filters, as ours are."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    position, chunks = 8, {}
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        crc = struct.unpack(">I", data[position + 8 + length:position + 12 + length])[0]
        assert zlib.crc32(kind + body) & 0xFFFFFFFF == crc
        chunks.setdefault(kind, b"")
        chunks[kind] += body
        position += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert (depth, colour) == (8, 2)
    rows = np.frombuffer(zlib.decompress(chunks[b"IDAT"]), np.uint8).reshape(height, -1)
    assert (rows[:, 0] == 0).all()
    return width, height, rows[:, 1:].reshape(height, width, 3)


def read_ply(path):
    """The vertices (x, y, z, and amplitude when present) of a binary little-endian PLY."""
    data = open(path, "rb").read()
    end = data.index(b"end_header\n") + len(b"end_header\n")
    header = data[:end].decode("ascii").splitlines()
    assert header[0] == "ply" and header[1] == "format binary_little_endian 1.0"
    count = int(next(line for line in header if line.startswith("element vertex")).split()[2])
    properties = [line.split()[2] for line in header if line.startswith("property float")]
    vertices = np.frombuffer(data, "<f4", count * len(properties), end)
    assert end + vertices.nbytes == len(data)
    return properties, vertices.reshape(count, len(properties))


@pytest.mark.slow
def test_capture_writes_each_format_with_the_scene_in_it(tmp_path, wall_config):
    truth = wall_distance_per_pixel()
    npy = tmp_path / "npy"
    result = quarvel("capture", "--config", wall_config, "--frames", "2", "--format", "npy",
                     "--output", str(npy))
    assert result.returncode == 0, result.stderr
    assert "wrote 6 files for 2 frames" in result.stdout
    for frame in range(2):
        depth = np.load(npy / f"frame-{frame:04d}-depth.npy")
        amplitude = np.load(npy / f"frame-{frame:04d}-amplitude.npy")
        confidence = np.load(npy / f"frame-{frame:04d}-confidence.npy")
        assert depth.shape == amplitude.shape == confidence.shape == (180, 240)
        assert depth.dtype == np.float32
        assert np.abs(depth - truth).max() < 5.0

    png = tmp_path / "png"
    result = quarvel("capture", "--config", wall_config, "--format", "png", "--output", str(png))
    assert result.returncode == 0, result.stderr
    width, height, image = read_png(png / "frame-0000-depth.png")
    assert (width, height) == (240, 180)
    # The wall is nearest at the centre: the colour scale's near end there, the far end at
    # the corners (the scale spans the 1st to 99th percentile of the frame's depths).
    from quarvel.cli.common import DEPTH_ANCHORS, palette
    table = palette(DEPTH_ANCHORS).astype(int)
    centre = np.abs(table - image[90, 119].astype(int)).sum(axis=1).argmin()
    corner = np.abs(table - image[0, 0].astype(int)).sum(axis=1).argmin()
    assert centre < 10 and corner > 245, (centre, corner)
    width, height, amplitude_image = read_png(png / "frame-0000-amplitude.png")
    assert (width, height) == (240, 180) and amplitude_image.any()

    ply = tmp_path / "ply"
    result = quarvel("capture", "--config", wall_config, "--format", "ply", "--output", str(ply))
    assert result.returncode == 0, result.stderr
    properties, vertices = read_ply(ply / "frame-0000-points.ply")
    assert properties == ["x", "y", "z", "amplitude"]
    assert len(vertices) == 240 * 180
    # Every point lies on the wall 1.5 m ahead, and at its pixel's distance.
    assert np.abs(vertices[:, 2] - 1.5).max() < 0.005
    distances = np.linalg.norm(vertices[:, :3], axis=1).reshape(180, 240)
    assert np.abs(distances * 1000 - truth).max() < 5.0


@pytest.mark.slow
def test_capture_from_a_simulated_csi_camera(tmp_path):
    result = quarvel("capture", "--connect", "csi", "--format", "npy", "--output", str(tmp_path),
                     board="pi5:hqvga")
    assert result.returncode == 0, result.stderr
    depth = np.load(tmp_path / "frame-0000-depth.npy")
    # The standard scene: from the front of the sphere (1076 mm) to the wall's corners.
    valid = depth[depth > 0]
    assert valid.size > 0.9 * depth.size
    assert 1000 < np.percentile(valid, 1) and np.percentile(valid, 99) < 3900


@pytest.mark.slow
def test_stats_reports_rate_drops_and_the_wall(wall_config):
    result = quarvel("stats", "--config", wall_config, "--frames", "40")
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("40 frames in ")
    assert "dropped by the camera" in result.stdout
    last = result.stderr.replace("\r", "\n").strip().splitlines()[-1]
    fields = last.split()
    assert fields[0] == "frames" and fields[1] == "40"
    # The wall at 1.5 m: nearest at the centre, 1.5 m / cos(32 deg) at the edges' middle.
    median = float(fields[fields.index("median") + 1])
    minimum = float(fields[fields.index("min") + 1])
    assert abs(minimum - 1500) < 5 and 1500 < median < 1800


@pytest.mark.slow
def test_record_and_play_through_the_command(tmp_path, wall_config):
    path = str(tmp_path / "wall.mcap")
    recorded = quarvel("record", path, "--config", wall_config, "--frames", "10")
    assert recorded.returncode == 0, recorded.stderr
    frames = int(recorded.stdout.split()[1])
    assert frames >= 1
    played = quarvel("play", path, "--fast")
    assert played.returncode == 0, played.stderr
    assert played.stdout.startswith(f"played {frames} frames;")


def test_a_camera_that_will_not_open_is_one_sentence_and_exit_code_1(tmp_path, wall_config):
    bad = tmp_path / "bad.cfg"
    bad.write_text("bit_width = 9\n")
    cases = [
        (("capture", "--connect", "csi", "--output", str(tmp_path)), None,
         "cannot open the CSI camera /dev/video0"),
        (("stats", "--config", str(tmp_path / "missing.cfg")), None, "no such file"),
        (("stats", "--config", str(bad)), None, "bit_width must be 8, 10, 12 or 14"),
        (("record", str(tmp_path / "x.mcap"), "--connect", "csi"), "pi5:hqvga+i2c-denied",
         "quarvel doctor"),
        (("view", "--connect", "csi", "--port", "0"), "rock:hqvga+no-video-node",
         "cannot open the CSI camera /dev/video0"),
        (("play", str(bad)), None, ""),
        (("capture", "--config", wall_config, "--connect", "csi"), None, "--config"),
    ]
    for arguments, board, words in cases:
        result = quarvel(*arguments, board=board)
        assert result.returncode == 1, (arguments, result.stdout, result.stderr)
        line = one_sentence(result.stderr)
        assert words in line, (arguments, line)
