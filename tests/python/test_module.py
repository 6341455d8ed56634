"""The module itself: namespace and its order, version, docstrings, signatures, import."""
import os
import subprocess
import sys
import textwrap

import pytest

import QuarvelDepthCamera as qdc

NAMESPACE = ["TOFDeviceType", "TOFOutput", "TOFConnect", "TOFControl", "TofWorkMode",
             "TofFrameWorkMode", "TOFErrorCode", "QuarvelFormat", "QuarvelInfo",
             "QuarvelFrame", "RawData", "DepthData", "QuarvelCamera", "__version__"]

CAMERA_METHODS = {
    "open": None,
    "openWithFile": None,
    "close": "Close the camera",
    "start": "Start the camera stream and start processing.",
    "stop": "Stop camera stream and processing.",
    "setControl": "Set camera parameters.",
    "getControl": "Get camera parameters.",
    "getCameraInfo": "Get camera information.",
    "requestFrame": "Request a frame of data from the frame processing thread.",
    "releaseFrame": "Free the memory space of the frame.",
}

OPEN_DOC = ("Initialize the camera configuration and turn on the camera, set the initialization"
            " frame according to the mode.\n\n- mode Specify the connection method.\n- index "
            "Device node, the default value is video0.")
OPEN_WITH_FILE_DOC = ("Initialize the camera configuration and turn on the camera, set the "
                      "initialization frame according to the mode.\n\n- path Specify the "
                      "config file path.\n- index Device node, the default value is video0.")


def own_names(namespace):
    return [name for name in namespace if not name.startswith("__") or name == "__version__"]


def user_doc(function):
    """The docstring below the signature line that pybind11 generates."""
    signature, _, text = function.__doc__.partition("\n\n")
    return signature, text.strip("\n")


def run_python(code, env=None):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, env=env, timeout=120)


class TestNamespace:
    def test_namespace_holds_exactly_the_public_names_in_registration_order(self):
        assert own_names(vars(qdc)) == NAMESPACE

    def test_version_is_dev(self):
        assert qdc.__version__ == "dev"

    def test_no_module_docstring_and_no_module_functions(self):
        assert qdc.__doc__ is None
        for name in NAMESPACE[:-1]:
            assert isinstance(getattr(qdc, name), type), name

    def test_frame_classes_derive_from_quarvel_frame(self):
        assert issubclass(qdc.RawData, qdc.QuarvelFrame)
        assert issubclass(qdc.DepthData, qdc.QuarvelFrame)
        assert not issubclass(qdc.QuarvelCamera, qdc.QuarvelFrame)

    def test_quarvel_frame_has_no_methods(self):
        assert [name for name in vars(qdc.QuarvelFrame) if not name.startswith("_")] == []

    @pytest.mark.parametrize("name", ["QuarvelFrame", "RawData", "DepthData"])
    def test_frames_cannot_be_constructed(self, name):
        with pytest.raises(TypeError, match=r": No constructor defined!$"):
            getattr(qdc, name)()

    def test_camera_takes_no_constructor_arguments(self):
        with pytest.raises(TypeError):
            qdc.QuarvelCamera(0)


class TestDocstrings:
    def test_camera_methods_in_registration_order(self):
        methods = [name for name in vars(qdc.QuarvelCamera) if not name.startswith("_")]
        assert methods == list(CAMERA_METHODS)

    @pytest.mark.parametrize("name,text", [(n, t) for n, t in CAMERA_METHODS.items() if t])
    def test_camera_method_docstrings(self, name, text):
        assert user_doc(getattr(qdc.QuarvelCamera, name))[1] == text

    def test_open_docstrings(self):
        assert user_doc(qdc.QuarvelCamera.open)[1] == OPEN_DOC
        assert user_doc(qdc.QuarvelCamera.openWithFile)[1] == OPEN_WITH_FILE_DOC

    def test_signatures_name_the_python_types(self):
        signature = user_doc(qdc.QuarvelCamera.open)[0]
        assert signature == ("open(self: QuarvelDepthCamera.QuarvelCamera, mode: "
                             "QuarvelDepthCamera.TOFConnect, index: int = 0) -> "
                             "QuarvelDepthCamera.TOFErrorCode")
        assert user_doc(qdc.QuarvelCamera.getCameraInfo)[0].endswith(
            "-> QuarvelDepthCamera.QuarvelInfo")
        assert user_doc(qdc.QuarvelCamera.getControl)[0].endswith("-> int")
        assert "timeout: int" in user_doc(qdc.QuarvelCamera.requestFrame)[0]

    @pytest.mark.parametrize("cls,name,text,returns", [
        ("RawData", "getRawData", "Get raw data from the frame", "numpy.ndarray[numpy.int16]"),
        ("RawData", "getFrameFormat", "Get the information of this frame",
         "QuarvelDepthCamera.QuarvelFormat"),
        ("DepthData", "getDepthData", "Get depth data from the frame",
         "numpy.ndarray[numpy.float32]"),
        ("DepthData", "getConfidenceData", "Get confidence data from the frame",
         "numpy.ndarray[numpy.float32]"),
        ("DepthData", "getAmplitudeData", "Get amplitude data from the frame",
         "numpy.ndarray[numpy.float32]"),
        ("DepthData", "getFrameFormat", "Get the information of this frame",
         "QuarvelDepthCamera.QuarvelFormat")])
    def test_frame_method_docstrings_and_return_types(self, cls, name, text, returns):
        signature, doc = user_doc(getattr(getattr(qdc, cls), name))
        assert doc == text
        assert signature.endswith("-> " + returns)

    def test_frame_methods_in_registration_order(self):
        def methods(cls):
            return [name for name in vars(cls) if not name.startswith("_")]
        assert methods(qdc.RawData) == ["getRawData", "getFrameFormat"]
        assert methods(qdc.DepthData) == ["getDepthData", "getConfidenceData",
                                          "getAmplitudeData", "getFrameFormat"]


class TestImport:
    def test_import_does_not_import_numpy(self):
        result = run_python("""
            import sys
            import QuarvelDepthCamera
            print('numpy' in sys.modules)
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "False"

    def test_import_works_without_numpy(self):
        result = run_python("""
            import sys
            sys.modules['numpy'] = None  # any import of numpy now fails
            import QuarvelDepthCamera as qdc
            camera = qdc.QuarvelCamera()
            print(qdc.__version__, camera.requestFrame(0))
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "dev None"


def import_under_version(version):
    """Imports a build of the module that sees `version` as the interpreter's version."""
    module_dir = os.environ.get("QUARVEL_FAKE_VERSION_MODULE_DIR")
    if not module_dir or not os.path.isdir(module_dir):
        pytest.skip("the fake-version build of the module is made by the project's CMake")
    env = dict(os.environ, QUARVEL_FAKE_PYTHON_VERSION=version)
    env.pop("PYTHONPATH", None)
    return run_python(f"""
        import os, sys
        # The module binds to the library beside it before the interpreter's own symbols.
        sys.setdlopenflags(os.RTLD_NOW | os.RTLD_DEEPBIND)
        sys.path.insert(0, {module_dir!r})
        try:
            import QuarvelDepthCamera
        except ImportError as error:
            print('ImportError:', error)
        else:
            print('imported', QuarvelDepthCamera.__version__)
        """, env=env)


class TestInterpreterVersionCheck:
    def test_matching_version_imports(self):
        result = import_under_version("3.11.9 (simulated)")
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "imported dev"

    @pytest.mark.parametrize("version", ["3.12.1 (simulated)", "3.110.0 (simulated)",
                                         "3.10.12 (simulated)"])
    def test_other_versions_fail_with_the_mismatch_message(self, version):
        result = import_under_version(version)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == (
            "ImportError: Python version mismatch: module was compiled for Python 3.11, but "
            f"the interpreter version is incompatible: {version}.")
