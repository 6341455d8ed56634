"""The module itself: namespace, classes, docstrings, signatures, records and the import."""
import os
import subprocess
import sys
import textwrap

import pytest

import QuarvelDepthCamera as qdc
from conftest import Index, next_frame

NAMESPACE = ["TOFDeviceType", "TOFOutput", "TOFConnect", "TOFControl", "TofWorkMode",
             "TofFrameWorkMode", "TOFErrorCode", "QuarvelFormat", "QuarvelInfo",
             "QuarvelFrame", "RawData", "DepthData", "QuarvelCamera", "__version__"]
OPEN_DOC = ("Initialize the camera configuration and turn on the camera, set the initialization"
            " frame according to the mode.\n\n- {} Specify the {}.\n- index Device node, the "
            "default value is video0.")
METHOD_DOCS = [  # class, method, docstring, return type (None: not checked)
    ("QuarvelCamera", "open", OPEN_DOC.format("mode", "connection method"), None),
    ("QuarvelCamera", "openWithFile", OPEN_DOC.format("path", "config file path"), None),
    ("QuarvelCamera", "close", "Close the camera", None),
    ("QuarvelCamera", "start", "Start the camera stream and start processing.", None),
    ("QuarvelCamera", "stop", "Stop camera stream and processing.", None),
    ("QuarvelCamera", "setControl", "Set camera parameters.", None),
    ("QuarvelCamera", "getControl", "Get camera parameters.", "int"),
    ("QuarvelCamera", "getCameraInfo", "Get camera information.",
     "QuarvelDepthCamera.QuarvelInfo"),
    ("QuarvelCamera", "requestFrame", "Request a frame of data from the frame processing thread.",
     None),
    ("QuarvelCamera", "releaseFrame", "Free the memory space of the frame.", None),
    ("RawData", "getRawData", "Get raw data from the frame", "numpy.ndarray[numpy.int16]"),
    ("RawData", "getFrameFormat", "Get the information of this frame",
     "QuarvelDepthCamera.QuarvelFormat"),
    ("DepthData", "getDepthData", "Get depth data from the frame", "numpy.ndarray[numpy.float32]"),
    ("DepthData", "getConfidenceData", "Get confidence data from the frame",
     "numpy.ndarray[numpy.float32]"),
    ("DepthData", "getAmplitudeData", "Get amplitude data from the frame",
     "numpy.ndarray[numpy.float32]"),
    ("DepthData", "getFrameFormat", "Get the information of this frame",
     "QuarvelDepthCamera.QuarvelFormat"),
]


def public(cls):
    return [name for name in vars(cls) if not name.startswith("_")]


class TestNamespace:
    def test_exactly_the_public_names_in_registration_order(self):
        assert [n for n in vars(qdc) if not n.startswith("__") or n == "__version__"] == NAMESPACE
        assert qdc.__version__ == "dev"
        assert qdc.__doc__ is None
        assert all(isinstance(getattr(qdc, name), type) for name in NAMESPACE[:-1])

    def test_class_layout_and_method_order(self):
        assert issubclass(qdc.RawData, qdc.QuarvelFrame)
        assert issubclass(qdc.DepthData, qdc.QuarvelFrame)
        assert public(qdc.QuarvelFrame) == []
        assert public(qdc.RawData) == ["getRawData", "getFrameFormat"]
        assert public(qdc.DepthData) == ["getDepthData", "getConfidenceData", "getAmplitudeData",
                                         "getFrameFormat"]
        assert public(qdc.QuarvelCamera) == [m for c, m, *_ in METHOD_DOCS if c == "QuarvelCamera"]
        with pytest.raises(TypeError):
            qdc.QuarvelCamera(0)

        def properties(cls):
            return [name for name, value in vars(cls).items() if isinstance(value, property)]
        assert properties(qdc.QuarvelFormat) == ["width", "height", "timestamp", "type"]
        assert properties(qdc.QuarvelInfo) == [
            "index", "connect", "device_type", "type", "width", "height", "bit_width", "bpp"]

    @pytest.mark.parametrize("name", ["QuarvelFrame", "RawData", "DepthData", "QuarvelFormat",
                                      "QuarvelInfo"])
    def test_frames_and_records_cannot_be_constructed(self, name):
        with pytest.raises(TypeError, match=r": No constructor defined!$"):
            getattr(qdc, name)()

    @pytest.mark.parametrize("cls,name,text,returns", METHOD_DOCS)
    def test_docstrings_and_return_types(self, cls, name, text, returns):
        signature, _, doc = getattr(getattr(qdc, cls), name).__doc__.partition("\n\n")
        assert doc.strip("\n") == text
        if returns:
            assert signature.endswith("-> " + returns)

    def test_signature_names_the_python_types(self):
        assert qdc.QuarvelCamera.open.__doc__.startswith(
            "open(self: QuarvelDepthCamera.QuarvelCamera, mode: QuarvelDepthCamera.TOFConnect, "
            "index: int = 0) -> QuarvelDepthCamera.TOFErrorCode\n")
        assert "timeout: int" in qdc.QuarvelCamera.requestFrame.__doc__


U32_FIELDS = ["index", "width", "height", "bit_width", "bpp"]
RECORD_FIELDS = [  # record, field, values it takes, values it refuses
    *[("info", name, [2**32 - 1, Index(7)], [-1, 2**32, 1.5, "3", None]) for name in U32_FIELDS],
    ("info", "connect", [qdc.TOFConnect.USB], [1, qdc.TOFOutput.RAW]),
    ("info", "device_type", [qdc.TOFDeviceType.HQVGA], [1, qdc.TOFConnect.USB]),
    ("info", "type", [qdc.TOFOutput(3)], [qdc.TOFControl.RANGE, 2, None]),
    ("format", "timestamp", [2**64 - 1], [2**64, -1, 2.0]),
    ("format", "width", [17], [1.5]),
    ("format", "type", [qdc.TOFOutput.CACHE], [2, qdc.TOFConnect.USB]),
]


class TestRecords:
    def test_new_camera_info_is_zero_and_each_info_an_own_copy(self, camera):
        info = camera.getCameraInfo()
        assert [getattr(info, f) for f in U32_FIELDS] == [0] * 5
        assert (info.connect, info.device_type, info.type) == \
            (qdc.TOFConnect.CSI, qdc.TOFDeviceType.VGA, qdc.TOFOutput.RAW)
        info.width, info.connect = 99, qdc.TOFConnect.USB
        again = camera.getCameraInfo()
        assert (again.width, again.connect) == (0, qdc.TOFConnect.CSI)

    @pytest.mark.parametrize("record,name,good,bad", RECORD_FIELDS)
    def test_fields_take_their_range_and_keep_their_value_on_refusal(
            self, usb_camera, record, name, good, bad):
        if record == "info":
            target = usb_camera.getCameraInfo()
        else:  # a QuarvelFormat only comes from a frame
            assert usb_camera.start(qdc.TOFOutput.RAW) == qdc.TOFErrorCode.QuarvelSuccess
            frame = next_frame(usb_camera)
            target = frame.getFrameFormat()
            usb_camera.releaseFrame(frame)
        for value in good:
            setattr(target, name, value)
            assert int(getattr(target, name)) == value.__index__()
        for value in bad:
            with pytest.raises(TypeError):
                setattr(target, name, value)
            assert int(getattr(target, name)) == good[-1].__index__()


def run_python(code, env=None):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, env=env, timeout=120)


class TestImport:
    @pytest.mark.parametrize("prelude,expected", [
        ("", "False dev None"),
        ("sys.modules['numpy'] = None  # any import of numpy now fails", "True dev None")])
    def test_import_needs_no_numpy(self, prelude, expected):
        result = run_python(f"""
            import sys
            {prelude}
            import QuarvelDepthCamera as qdc
            print('numpy' in sys.modules, qdc.__version__, qdc.QuarvelCamera().requestFrame(0))
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == expected

    @pytest.mark.parametrize("version,expected", [
        ("3.11.9 (simulated)", "imported dev")] + [
        (v, "ImportError: Python version mismatch: module was compiled for Python 3.11, but the "
            f"interpreter version is incompatible: {v}.")
        for v in ("3.12.1 (simulated)", "3.110.0 (simulated)", "3.10.12 (simulated)")])
    def test_interpreter_version_is_checked(self, version, expected):
        # A build of the module linked beside a library that fakes the interpreter version.
        module_dir = os.environ.get("QUARVEL_FAKE_VERSION_MODULE_DIR")
        if not module_dir or not os.path.isdir(module_dir):
            pytest.skip("the fake-version build of the module is made by the project's CMake")
        env = dict(os.environ, QUARVEL_FAKE_PYTHON_VERSION=version)
        env.pop("PYTHONPATH", None)
        result = run_python(f"""
            import os, sys
            # The module binds to the library beside it before the interpreter's own symbols.
            sys.setdlopenflags(os.RTLD_NOW | os.RTLD_DEEPBIND)
            sys.path.insert(0, {module_dir!r})
            try:
                import QuarvelDepthCamera
                print('imported', QuarvelDepthCamera.__version__)
            except ImportError as error:
                print('ImportError:', error)
            """, env=env)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == expected
