"""Shared fixtures of the Python suite: the module, fresh cameras and the simulated camera."""
import gc

import pytest

import QuarvelDepthCamera as qdc


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "slow: subprocess, signal and end-to-end tests (ctest label slow)")


@pytest.fixture
def camera():
    """A camera that was never opened."""
    cam = qdc.QuarvelCamera()
    yield cam
    del cam
    gc.collect()


@pytest.fixture
def usb_camera():
    """The built-in simulated USB camera (index 0), opened; closed after the test."""
    cam = qdc.QuarvelCamera()
    status = cam.open(qdc.TOFConnect.USB, 0)
    assert status == qdc.TOFErrorCode.QuarvelSuccess, status.str()
    yield cam
    cam.close()
    del cam
    gc.collect()


@pytest.fixture
def frame_format(usb_camera):
    """The QuarvelFormat of one raw frame of the simulated camera."""
    assert usb_camera.start(qdc.TOFOutput.RAW) == qdc.TOFErrorCode.QuarvelSuccess
    frame = usb_camera.requestFrame(5000)
    assert frame is not None
    frame_format = frame.getFrameFormat()
    usb_camera.releaseFrame(frame)
    usb_camera.stop()
    return frame_format
