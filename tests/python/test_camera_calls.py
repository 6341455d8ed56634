"""QuarvelCamera calls without a stream: argument checks, defaults and return conventions."""
import gc
import weakref

import pytest

import QuarvelDepthCamera as qdc
from conftest import Failure, Index, Success

INT32_MAX, INT32_MIN = 2**31 - 1, -2**31
CONTROL, MODE = qdc.TOFControl.SKIP_FRAME_LOOP, qdc.TOFControl.MODE

# Each call refuses these before the camera is touched.
WRONG_ARGUMENTS = [
    ("open", (0,)), ("open", (1, 0)), ("open", (qdc.TOFOutput.RAW,)), ("open", (None,)),
    ("open", ()), ("open", (qdc.TOFConnect.USB, 1.0)), ("open", (qdc.TOFConnect.USB, "0")),
    ("open", (qdc.TOFConnect.USB, INT32_MAX + 1)), ("open", (qdc.TOFConnect.USB, INT32_MIN - 1)),
    ("openWithFile", (1,)), ("openWithFile", (1.5,)), ("openWithFile", (["a"],)),
    ("openWithFile", ("config.cfg", 1.0)), ("openWithFile", ("config.cfg", INT32_MAX + 1)),
    ("setControl", (MODE, 5.0)), ("setControl", (3, 5)), ("setControl", (qdc.TofWorkMode.HDR, 5)),
    ("setControl", (MODE, INT32_MAX + 1)), ("setControl", (MODE, INT32_MIN - 1)),
    ("setControl", (MODE,)), ("setControl", (MODE, None)),
    ("getControl", (0,)), ("getControl", (None,)), ("getControl", (qdc.TOFOutput.RAW,)),
    ("getControl", (1.0,)),
    ("requestFrame", (32768,)), ("requestFrame", (-32769,)), ("requestFrame", (1.0,)),
    ("requestFrame", ("1",)), ("requestFrame", (None,)), ("requestFrame", ()),
    ("releaseFrame", (0,)), ("releaseFrame", ("frame",)), ("releaseFrame", (object(),)),
    ("releaseFrame", (qdc.QuarvelCamera().getCameraInfo(),)),
    ("start", ()), ("start", (2,)), ("start", (qdc.TOFConnect.USB,)), ("start", (None,)),
]


@pytest.mark.parametrize("method,args", WRONG_ARGUMENTS)
def test_wrong_arguments_raise_type_error_before_the_camera(camera, method, args):
    with pytest.raises(TypeError):
        getattr(camera, method)(*args)
    info = camera.getCameraInfo()
    assert (info.connect, info.index) == (qdc.TOFConnect.CSI, 0)
    assert camera.getControl(CONTROL) == 1


class TestOpen:
    def test_index_defaults_to_zero_and_takes_keywords_and_index_objects(self, camera):
        camera.open(qdc.TOFConnect.CSI, 3)
        camera.open(qdc.TOFConnect.CSI)
        assert camera.getCameraInfo().index == 0
        camera.open(mode=qdc.TOFConnect.USB, index=7)
        assert (camera.getCameraInfo().connect, camera.getCameraInfo().index) == \
            (qdc.TOFConnect.USB, 7)
        camera.open(qdc.TOFConnect.CSI, Index(5))
        assert camera.getCameraInfo().index == 5
        camera.open(qdc.TOFConnect.CSI, INT32_MIN)
        assert camera.getCameraInfo().index == 2**31  # stored as unsigned

    def test_open_with_none_path_is_refused_by_the_core_and_a_missing_file_fails(
            self, camera, tmp_path):
        assert camera.openWithFile(None) == Failure
        assert camera.openWithFile(path=None, index=4) == Failure
        info = camera.getCameraInfo()
        assert (info.connect, info.index) == (qdc.TOFConnect.CSI, 0)  # nothing changed
        result = camera.openWithFile(str(tmp_path / "absent.cfg"), index=1)
        assert isinstance(result, qdc.TOFErrorCode) and result != Success
        info = camera.getCameraInfo()
        assert (info.connect, info.index) == (qdc.TOFConnect.USB, 1)


class TestControls:
    def test_get_control_returns_a_plain_int_and_zero_when_the_read_fails(self, camera):
        value = camera.getControl(CONTROL)
        assert type(value) is int and value == 1
        # Never opened: the device keeps RANGE and FRAME_RATE, and there is none.
        assert camera.getControl(qdc.TOFControl.RANGE) == 0
        assert camera.getControl(ctrl=qdc.TOFControl.FRAME_RATE) == 0

    def test_set_control_returns_the_status_and_takes_any_integer_like_value(self, camera):
        assert camera.setControl(qdc.TOFControl.RANGE, 2000) == Failure  # no device yet
        result = camera.setControl(CONTROL, qdc.TofWorkMode.HDR)
        assert isinstance(result, qdc.TOFErrorCode) and result == Success
        assert camera.getControl(CONTROL) == 5
        assert camera.setControl(ctrl=CONTROL, value=Index(9)) == Success
        assert camera.getControl(CONTROL) == 9

    def test_auto_frame_rate_is_reached_by_its_value(self, camera):
        auto_frame_rate = qdc.TOFControl(9)
        assert camera.getControl(auto_frame_rate) == 1  # on after construction
        assert camera.setControl(auto_frame_rate, 0) == Success
        assert camera.getControl(auto_frame_rate) == 0


class TestWithoutStream:
    @pytest.mark.parametrize("timeout", [32767, -32768, 0, -1, Index(10)])
    def test_never_started_camera_returns_no_frame(self, camera, timeout):
        assert camera.requestFrame(timeout) is None

    def test_release_of_none_is_answered_by_the_core(self, camera):
        result = camera.releaseFrame(None)
        assert isinstance(result, qdc.TOFErrorCode) and result == Failure
        assert camera.releaseFrame(frame=None) == Failure

    def test_unopened_camera_fails_with_statuses_and_stop_raises(self, camera):
        assert camera.start(qdc.TOFOutput.DEPTH) == Failure
        with pytest.raises(RuntimeError):
            camera.stop()  # there is no capture thread to end
        assert camera.close() == Failure

    def test_deleting_the_last_reference_destroys_the_camera(self):
        camera = qdc.QuarvelCamera()
        alive = weakref.ref(camera)
        del camera
        gc.collect()
        assert alive() is None
