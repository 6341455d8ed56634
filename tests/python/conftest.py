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


WALL_DISTANCE_MM = 1500.0
SIMULATED_WIDTH, SIMULATED_HEIGHT = 240, 180
SIMULATED_HORIZONTAL_FOV_DEGREES = 64.0


def write_camera_config(directory, **settings):
    """A simulated-camera description file ("key = value" lines); returns its path."""
    path = directory / "camera.cfg"
    path.write_text("".join(f"{key} = {value}\n" for key, value in settings.items()))
    return path


@pytest.fixture
def wall_config(tmp_path):
    """A noiseless 240x180 camera facing a flat wall at WALL_DISTANCE_MM, at 60 fps."""
    return write_camera_config(tmp_path, scene="wall", wall_distance_mm=int(WALL_DISTANCE_MM),
                               noise="off", fps=60)


@pytest.fixture
def wall_camera(wall_config):
    """The simulated camera of `wall_config`, opened; closed after the test."""
    cam = qdc.QuarvelCamera()
    status = cam.openWithFile(str(wall_config))
    assert status == qdc.TOFErrorCode.QuarvelSuccess, status.str()
    yield cam
    cam.close()
    del cam
    gc.collect()


def wall_distance_per_pixel():
    """Ground truth: distance along each pixel's ray to the wall, for the pinhole camera of
    the simulation (square pixels, centred axis, 64 degrees across)."""
    import numpy as np
    focal = (SIMULATED_WIDTH / 2) / np.tan(np.radians(SIMULATED_HORIZONTAL_FOV_DEGREES / 2))
    rows, columns = np.mgrid[0:SIMULATED_HEIGHT, 0:SIMULATED_WIDTH]
    dx = columns + 0.5 - SIMULATED_WIDTH / 2
    dy = rows + 0.5 - SIMULATED_HEIGHT / 2
    return WALL_DISTANCE_MM * np.sqrt(dx * dx + dy * dy + focal * focal) / focal


def drop_every_frame(camera):
    """Makes the capture thread drop every frame, so that no frame ever becomes ready."""
    assert camera.setControl(qdc.TOFControl.SKIP_FRAME_LOOP, 1) == qdc.TOFErrorCode.QuarvelSuccess
    assert camera.setControl(qdc.TOFControl.SKIP_FRAME, 1) == qdc.TOFErrorCode.QuarvelSuccess
