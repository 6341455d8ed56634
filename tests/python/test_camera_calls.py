"""QuarvelCamera calls without a stream: argument checks, defaults and return conventions."""
import gc
import weakref

import pytest

import QuarvelDepthCamera as qdc

Success = qdc.TOFErrorCode.QuarvelSuccess
Failure = qdc.TOFErrorCode.QuarvelUnkownError
INT32_MAX = 2**31 - 1
INT32_MIN = -2**31


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class TestOpen:
    def test_index_defaults_to_zero(self, camera):
        camera.open(qdc.TOFConnect.CSI, 3)
        camera.open(qdc.TOFConnect.CSI)
        info = camera.getCameraInfo()
        assert info.index == 0
        assert info.connect == qdc.TOFConnect.CSI

    def test_keywords_and_index_objects(self, camera):
        camera.open(mode=qdc.TOFConnect.USB, index=7)
        assert camera.getCameraInfo().index == 7
        assert camera.getCameraInfo().connect == qdc.TOFConnect.USB
        camera.open(qdc.TOFConnect.CSI, Index(5))
        assert camera.getCameraInfo().index == 5

    def test_result_is_an_error_code_member(self, camera):
        # No camera sits behind /dev/video99.
        result = camera.open(qdc.TOFConnect.CSI, 99)
        assert isinstance(result, qdc.TOFErrorCode)
        assert result != Success

    @pytest.mark.parametrize("args", [
        (0,), (1, 0), (qdc.TOFOutput.RAW,), (None,), (qdc.TOFConnect.USB, 1.0),
        (qdc.TOFConnect.USB, INT32_MAX + 1), (qdc.TOFConnect.USB, INT32_MIN - 1),
        (qdc.TOFConnect.USB, "0"), ()])
    def test_wrong_arguments_raise_type_error_before_the_core(self, camera, args):
        with pytest.raises(TypeError):
            camera.open(*args)
        assert camera.getCameraInfo().connect == qdc.TOFConnect.CSI  # untouched

    def test_index_takes_the_whole_signed_range(self, camera):
        camera.open(qdc.TOFConnect.CSI, INT32_MIN)
        assert camera.getCameraInfo().index == 2**31  # stored as unsigned


class TestOpenWithFile:
    def test_none_path_is_refused_by_the_core(self, camera):
        assert camera.openWithFile(None) == Failure
        assert camera.openWithFile(path=None, index=4) == Failure
        info = camera.getCameraInfo()
        assert info.index == 0  # nothing changed
        assert info.connect == qdc.TOFConnect.CSI

    @pytest.mark.parametrize("path", [1, 1.5, ["a"], object()])
    def test_other_kinds_of_path_raise_type_error(self, camera, path):
        with pytest.raises(TypeError):
            camera.openWithFile(path)

    def test_index_is_checked(self, camera):
        with pytest.raises(TypeError):
            camera.openWithFile("config.json", 1.0)
        with pytest.raises(TypeError):
            camera.openWithFile("config.json", INT32_MAX + 1)


class TestControls:
    def test_get_control_returns_a_plain_int(self, camera):
        value = camera.getControl(qdc.TOFControl.SKIP_FRAME_LOOP)
        assert type(value) is int
        assert value == 1

    def test_failed_read_returns_zero(self, camera):
        # Never opened: the device keeps RANGE, and there is none.
        assert camera.getControl(qdc.TOFControl.RANGE) == 0
        assert camera.getControl(ctrl=qdc.TOFControl.FRAME_RATE) == 0

    def test_set_control_returns_core_status_as_member(self, camera):
        assert camera.setControl(qdc.TOFControl.RANGE, 2000) == Failure  # no device yet
        result = camera.setControl(qdc.TOFControl.SKIP_FRAME_LOOP, 3)
        assert isinstance(result, qdc.TOFErrorCode)
        assert result == Success

    def test_enum_member_passes_its_integer_as_value(self, camera):
        assert camera.setControl(qdc.TOFControl.SKIP_FRAME_LOOP, qdc.TofWorkMode.HDR) == Success
        assert camera.getControl(qdc.TOFControl.SKIP_FRAME_LOOP) == 5
        assert camera.setControl(ctrl=qdc.TOFControl.SKIP_FRAME_LOOP, value=Index(9)) == Success
        assert camera.getControl(qdc.TOFControl.SKIP_FRAME_LOOP) == 9

    def test_auto_frame_rate_is_reached_by_its_value(self, camera):
        auto_frame_rate = qdc.TOFControl(9)
        assert camera.getControl(auto_frame_rate) == 1  # on after construction
        assert camera.setControl(auto_frame_rate, 0) == Success
        assert camera.getControl(auto_frame_rate) == 0
        assert camera.setControl(auto_frame_rate, 5) == Success
        assert camera.getControl(auto_frame_rate) == 1

    @pytest.mark.parametrize("args", [
        (qdc.TOFControl.MODE, 5.0), (3, 5), (qdc.TofWorkMode.HDR, 5),
        (qdc.TOFControl.MODE, INT32_MAX + 1), (qdc.TOFControl.MODE, INT32_MIN - 1),
        (qdc.TOFControl.MODE,), (qdc.TOFControl.MODE, None)])
    def test_wrong_set_arguments_raise_type_error(self, camera, args):
        with pytest.raises(TypeError):
            camera.setControl(*args)

    @pytest.mark.parametrize("ctrl", [0, None, qdc.TOFOutput.RAW, 1.0])
    def test_wrong_get_arguments_raise_type_error(self, camera, ctrl):
        with pytest.raises(TypeError):
            camera.getControl(ctrl)


class TestFrameCalls:
    @pytest.mark.parametrize("timeout", [32767, -32768, 0, -1, Index(10)])
    def test_never_started_camera_returns_none(self, camera, timeout):
        assert camera.requestFrame(timeout) is None

    @pytest.mark.parametrize("timeout", [32768, -32769, 1.0, "1", None])
    def test_timeout_outside_int16_raises_type_error(self, camera, timeout):
        with pytest.raises(TypeError):
            camera.requestFrame(timeout)

    def test_timeout_has_no_default(self, camera):
        with pytest.raises(TypeError):
            camera.requestFrame()

    def test_release_of_none_is_answered_by_the_core(self, camera):
        result = camera.releaseFrame(None)
        assert isinstance(result, qdc.TOFErrorCode)
        assert result == Failure
        assert camera.releaseFrame(frame=None) == Failure

    @pytest.mark.parametrize("frame", [0, "frame", 1.5, object()])
    def test_release_of_a_non_frame_raises_type_error(self, camera, frame):
        with pytest.raises(TypeError):
            camera.releaseFrame(frame)

    def test_release_of_a_record_raises_type_error(self, camera):
        with pytest.raises(TypeError):
            camera.releaseFrame(camera.getCameraInfo())


class TestLifecycle:
    def test_start_takes_only_an_output_member(self, camera):
        for args in [(), (2,), (qdc.TOFConnect.USB,), (None,)]:
            with pytest.raises(TypeError):
                camera.start(*args)

    def test_start_of_unopened_camera_fails_with_status(self, camera):
        assert camera.start(qdc.TOFOutput.DEPTH) == Failure

    def test_stop_without_capture_thread_raises_runtime_error(self, camera):
        with pytest.raises(RuntimeError):
            camera.stop()

    def test_close_of_unopened_camera_returns_status(self, camera):
        assert camera.close() == Failure

    def test_deleting_the_last_reference_destroys_the_camera(self):
        camera = qdc.QuarvelCamera()
        alive = weakref.ref(camera)
        del camera
        gc.collect()
        assert alive() is None
