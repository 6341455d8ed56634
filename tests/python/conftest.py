"""Shared fixtures of the Python suite: fresh cameras, the simulated camera and its ground truth."""
import ctypes
import gc

import pytest

import QuarvelDepthCamera as qdc

Success = qdc.TOFErrorCode.QuarvelSuccess
Failure = qdc.TOFErrorCode.QuarvelUnkownError
WALL_DISTANCE_MM = 1500.0
# Noiseless wall: 11-bit phase samples leave a few millimetres of quantisation.
DEPTH_TOLERANCE_MM = 5.0


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "slow: subprocess, signal and end-to-end tests (ctest label slow)")
    config.addinivalue_line(
        "markers", "soak: repeated lifecycles and a long stream (ctest label stress)")
    config.addinivalue_line(
        "markers", "browser: the viewer in headless Chromium (ctest label browser)")


class Index:
    """Not an int, but usable as one."""
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def write_camera_config(directory, **settings):
    """A simulated-camera description file ("key = value" lines); returns its path."""
    path = directory / "camera.cfg"
    path.write_text("".join(f"{key} = {value}\n" for key, value in settings.items()))
    return path


def open_camera(config=None):
    """A camera opened on the simulated USB camera: the built-in one or the one of `config`."""
    camera = qdc.QuarvelCamera()
    status = camera.open(qdc.TOFConnect.USB, 0) if config is None else \
        camera.openWithFile(str(config))
    assert status == Success, status.str()
    return camera


def next_frame(camera, timeout_ms=3000):
    frame = camera.requestFrame(timeout_ms)
    assert frame is not None, "no frame within the timeout"
    return frame


def simulated_sdk():
    """The stand-in USB SDK the module loaded, for its test bench; skips the test without it."""
    with open("/proc/self/maps") as maps:
        paths = {line.split()[-1] for line in maps if "libquarvel_evk_sdk" in line}
    sdks = [ctypes.CDLL(path) for path in paths]
    sdks = [sdk for sdk in sdks if hasattr(sdk, "QuarvelSimLastOpenParam")]
    if not sdks:
        pytest.skip("needs the simulated USB SDK's test bench")
    sdk = sdks[0]
    sdk.QuarvelSimCallCount.restype = ctypes.c_uint64
    sdk.QuarvelSimCallCount.argtypes = [ctypes.c_char_p]
    return sdk


def wall_distance_per_pixel():
    """Ground truth: distance along each pixel's ray to the wall, for the simulation's 240x180
    pinhole camera (square pixels, centred axis, 64 degrees across)."""
    import numpy as np
    focal = 120 / np.tan(np.radians(32.0))
    rows, columns = np.mgrid[0:180, 0:240]
    dx, dy = columns + 0.5 - 120, rows + 0.5 - 90
    return WALL_DISTANCE_MM * np.sqrt(dx * dx + dy * dy + focal * focal) / focal


def drop_every_frame(camera):
    """Makes the capture thread drop every frame, so that no frame ever becomes ready."""
    assert camera.setControl(qdc.TOFControl.SKIP_FRAME_LOOP, 1) == Success
    assert camera.setControl(qdc.TOFControl.SKIP_FRAME, 1) == Success


def write_wall_config(directory, **settings):
    """A noiseless 240x180 camera facing a flat wall at WALL_DISTANCE_MM, with `settings`."""
    return write_camera_config(directory, scene="wall", wall_distance_mm=int(WALL_DISTANCE_MM),
                               noise="off", **settings)


@pytest.fixture
def wall_config(tmp_path):
    """The noiseless wall at 60 fps."""
    return write_wall_config(tmp_path, fps=60)


def closing(camera):
    """Yields the camera and closes it after the test."""
    yield camera
    camera.close()
    del camera
    gc.collect()


@pytest.fixture
def camera():
    """A camera that was never opened."""
    yield from closing(qdc.QuarvelCamera())


@pytest.fixture
def usb_camera():
    """The built-in simulated USB camera (index 0), with sensor noise."""
    yield from closing(open_camera())


@pytest.fixture
def wall_camera(wall_config):
    """The simulated camera of `wall_config`."""
    yield from closing(open_camera(wall_config))
