"""Paths handed to openWithFile that are not a description file: a clear failure, never a hang
or a crash, and a message that names the path without its raw bytes."""
import os

import pytest

import QuarvelDepthCamera as qdc
from conftest import Failure, Success, write_camera_config


@pytest.fixture
def hostile(tmp_path):
    """Names of every kind, built in the test's own directory."""
    os.mkfifo(tmp_path / "fifo")
    (tmp_path / "directory").mkdir()
    (tmp_path / "huge").write_bytes(b"# " + b"x" * (1 << 20))
    os.symlink("loop", tmp_path / "loop")
    return tmp_path


def refused(path, capfd, reason):
    camera = qdc.QuarvelCamera()
    assert camera.openWithFile(path) == Failure
    error = capfd.readouterr().err
    assert "cannot open camera" in error and reason in error, error
    return error


class TestOpenWithFileRefuses:
    def test_a_fifo_a_device_or_a_directory_without_waiting(self, hostile, capfd):
        refused(str(hostile / "fifo"), capfd, "not a regular file")
        refused("/dev/zero", capfd, "not a regular file")
        refused(str(hostile / "directory"), capfd, "not a regular file")

    def test_missing_overlong_oversized_and_looping_names(self, hostile, capfd):
        refused(str(hostile / "missing" / ".." / "missing"), capfd, "no such file")
        refused("/" + "a" * 100000, capfd, "path too long")
        refused(str(hostile / ("n" * 300)), capfd, "path too long")
        refused(str(hostile / "huge"), capfd, "file too large")
        refused(str(hostile / "loop"), capfd, "cannot be read")

    def test_bytes_that_are_not_utf8_are_escaped_in_the_message(self, hostile, capfd):
        error = refused(os.fsencode(hostile) + b"/caf\xe9\n\xff", capfd, "no such file")
        assert "caf\\xe9\\x0a\\xff" in error

    def test_text_that_cannot_be_encoded_raises_type_error(self):
        with pytest.raises(TypeError):
            qdc.QuarvelCamera().openWithFile("camera-\udcff.cfg")


def test_a_description_under_a_non_utf8_name_through_traversal_opens(tmp_path):
    description = write_camera_config(tmp_path, sensor="vga", noise="off")
    odd = os.fsencode(tmp_path) + b"/\xff\xfe.cfg"
    os.rename(description, odd)
    (tmp_path / "sub").mkdir()
    camera = qdc.QuarvelCamera()
    assert camera.openWithFile(os.fsencode(tmp_path) + b"/sub/../\xff\xfe.cfg") == Success
    assert camera.getCameraInfo().device_type == qdc.TOFDeviceType.VGA
    assert camera.close() == Success
