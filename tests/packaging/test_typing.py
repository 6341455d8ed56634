"""The type stubs match the built extensions (mypy's stubtest), the quarvel package checks
under mypy --strict, and the stubs catch misuse in a user's program."""
import ast
import importlib
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

BUILD_PYTHON = Path(os.environ["PYTHONPATH"].split(os.pathsep)[0])
SOURCE = Path(os.environ["QUARVEL_SOURCE_DIR"])


def mypy(*args, cwd=None):
    environment = dict(os.environ, MYPYPATH=str(BUILD_PYTHON))
    return subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", *args],
                          capture_output=True, text=True, cwd=cwd, env=environment)


EXTENSIONS = {
    "QuarvelDepthCamera": BUILD_PYTHON / "QuarvelDepthCamera.pyi",
    "quarvel._native": BUILD_PYTHON / "quarvel" / "_native.pyi",
    "quarvel._recording": BUILD_PYTHON / "quarvel" / "_recording.pyi",
}


def test_stubtest_finds_every_name_of_the_built_extensions(tmp_path):
    # Runs from an empty directory: only the built tree (PYTHONPATH) provides the modules.
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--concise", *EXTENSIONS,
                             "--allowlist", str(SOURCE / "python" / "stubs" / "stubtest-allowlist.txt")],
                            capture_output=True, text=True, cwd=tmp_path,
                            env=dict(os.environ, MYPYPATH=str(BUILD_PYTHON)))
    assert result.returncode == 0, result.stdout + result.stderr


def split_top_level(text):
    parts, depth, current = [], 0, ""
    for character in text:
        if character in "[(":
            depth += 1
        elif character in "])":
            depth -= 1
        if character == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += character
    if current.strip():
        parts.append(current.strip())
    return parts


def normalise(type_text):
    """One spelling for both sides: no module prefixes, numpy arrays as NDArray[dtype]."""
    text = re.sub(r"\b(QuarvelDepthCamera|quarvel\._native|quarvel\._recording|npt|np|numpy|typing)\.",
                  "", type_text.replace("'", '"'))
    return text.replace("ndarray[", "NDArray[").replace(" ", "")


def binding_signature(function):
    """(parameters [(name, type, default)], return type) from pybind11's signature line."""
    line = function.__doc__.splitlines()[0]
    found = re.fullmatch(r"\w+\((.*)\) -> (.+)", line)
    assert found, line
    parameters = []
    for part in split_top_level(found.group(1)):
        name, _, rest = part.partition(": ")
        type_text, _, default = rest.partition(" = ")
        if name != "self":
            parameters.append((name, type_text, default or None))
    return parameters, found.group(2)


def stub_functions(path):
    """(owner path, function node) of every function of a stub, properties and dunders aside
    (pybind11 generates those, and stubtest compares them by name)."""
    tree = ast.parse(path.read_text())
    for node in tree.body:
        owners = [((), node)] if isinstance(node, ast.FunctionDef) else []
        if isinstance(node, ast.ClassDef):
            owners = [((node.name,), item) for item in node.body if isinstance(item, ast.FunctionDef)]
        for owner, function in owners:
            if any(ast.unparse(d) == "property" for d in function.decorator_list):
                continue
            if function.name.startswith("__") and function.name != "__init__":
                continue
            yield owner, function


@pytest.mark.parametrize("module_name", list(EXTENSIONS))
def test_stub_signatures_are_the_bindings_signatures(module_name):
    # stubtest cannot read the signatures of pybind11 functions; their first docstring line
    # has them: names, order, defaults and types must agree with the stub.
    module = importlib.import_module(module_name)
    checked = 0
    for owner, function in stub_functions(EXTENSIONS[module_name]):
        runtime = module
        for name in (*owner, function.name):
            runtime = getattr(runtime, name)
        if owner and function.name == "__init__" and "Initialize self." in (runtime.__doc__ or ""):
            continue  # no constructor: calling the class raises TypeError
        parameters, returns = binding_signature(runtime)
        arguments = function.args.args[0 if "staticmethod" in map(ast.unparse, function.decorator_list)
                                        or not owner else 1:]
        defaults = [None] * (len(arguments) - len(function.args.defaults)) + function.args.defaults
        where = ".".join((module_name, *owner, function.name))
        assert [a.arg for a in arguments] == [p[0] for p in parameters], where
        for argument, default, (name, type_text, runtime_default) in zip(arguments, defaults, parameters):
            assert (default is None) == (runtime_default is None), (where, name)
            if default is not None and not (isinstance(default, ast.Constant) and default.value is ...):
                if runtime_default not in ("None", "[]"):
                    assert ast.literal_eval(default) == ast.literal_eval(runtime_default), (where, name)
            if type_text != "object":
                assert normalise(type_text) in normalise(ast.unparse(argument.annotation)), (where, name)
        if returns not in ("object", "tuple", "dict"):
            assert normalise(returns) in normalise(ast.unparse(function.returns)), where
        checked += 1
    assert checked >= 5


def test_the_quarvel_package_is_strictly_typed(tmp_path):
    result = mypy("--strict", "--cache-dir", str(tmp_path / "cache"), "-p", "quarvel",
                  "-p", "QuarvelDepthCamera", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_the_stubs_catch_misuse_and_accept_correct_use(tmp_path):
    program = tmp_path / "user.py"
    program.write_text(textwrap.dedent("""\
        import QuarvelDepthCamera as qdc
        import quarvel

        camera = qdc.QuarvelCamera()
        status: qdc.TOFErrorCode = camera.open(qdc.TOFConnect.USB, 0)
        camera.start(qdc.TOFOutput.DEPTH)
        frame = camera.requestFrame(2000)
        if isinstance(frame, qdc.DepthData):
            depth = frame.getDepthData()
            reveal_type(depth)
        value: int = camera.getControl(qdc.TOFControl.RANGE)
        with quarvel.Camera("usb:0") as live:
            for f in live.frames(count=1):
                reveal_type(f.depth)
        camera.open(0)                                   # an int is not a TOFConnect
        camera.setControl(qdc.TOFControl.MODE, 5.0)      # a float is not an int
        camera.requestFrame()                            # the timeout is required
        name: int = status.str()                         # str() gives text
        """))
    result = mypy("--strict", "--cache-dir", str(tmp_path / "cache"), str(program), cwd=tmp_path)
    errors = [line for line in result.stdout.splitlines() if ": error:" in line]
    lines = sorted({int(line.split(":")[1]) for line in errors})
    assert lines == [15, 16, 17, 18], result.stdout
    notes = [line for line in result.stdout.splitlines() if "Revealed type" in line]
    assert len(notes) == 2 and all("numpy.floating[numpy._typing._32Bit]" in note for note in notes), notes
