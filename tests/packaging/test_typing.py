"""The type stubs match the built extensions (mypy's stubtest), the quarvel package checks
under mypy --strict, and the stubs catch misuse in a user's program."""
import os
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


@pytest.mark.parametrize("module", ["QuarvelDepthCamera", "quarvel._native", "quarvel._recording"])
def test_stubs_match_the_built_extension(module, tmp_path):
    # Runs from an empty directory: only the built tree (PYTHONPATH) provides the modules.
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--concise", module,
                             "--allowlist", str(SOURCE / "python" / "stubs" / "stubtest-allowlist.txt")],
                            capture_output=True, text=True, cwd=tmp_path,
                            env=dict(os.environ, MYPYPATH=str(BUILD_PYTHON)))
    assert result.returncode == 0, result.stdout + result.stderr


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
