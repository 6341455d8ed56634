"""The wheel built by `python3 -m build` installs into a virtual environment (numpy from
Debian) and passes the Python suite there, with the build tree on no path."""
import os
import subprocess
import sys
import zipfile
from pathlib import Path

SOURCE = Path(os.environ["QUARVEL_SOURCE_DIR"])
BUILD = Path(os.environ["QUARVEL_BUILD_DIR"])


def run(command, **options):
    result = subprocess.run(command, capture_output=True, text=True, **options)
    assert result.returncode == 0, f"{command}:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def test_the_wheel_installs_into_a_venv_and_passes_the_python_suite(tmp_path):
    environment = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    # The suite's own tree is reused instead of a second whole build.
    run([sys.executable, "-m", "build", "--no-isolation", "--wheel", "--outdir",
         str(tmp_path / "dist"), str(SOURCE)],
        env=dict(environment, QUARVEL_WHEEL_BUILD_DIR=str(BUILD)))
    wheels = list((tmp_path / "dist").glob("quarvel_depth_camera-*.whl"))
    assert len(wheels) == 1
    with zipfile.ZipFile(wheels[0]) as wheel:
        names = wheel.namelist()
        assert wheel.testzip() is None
    assert any(n.startswith("QuarvelDepthCamera.cpython-311") for n in names)
    assert "QuarvelDepthCamera.pyi" in names and "quarvel/py.typed" in names
    assert not any("/include/" in n or n.endswith(".cmake") or n.endswith(".pc") for n in names)

    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], env=environment)
    python = venv / "bin" / "python"
    run([str(python), "-m", "pip", "install", "--no-index", "--no-deps", str(wheels[0])],
        env=environment)
    where = run([str(python), "-c",
                 "import QuarvelDepthCamera, quarvel, quarvel_tools\n"
                 "print(QuarvelDepthCamera.__file__)\nprint(quarvel.__file__)\n"
                 "with open('/proc/self/maps') as maps:\n"
                 "    print(next(l.split()[-1] for l in maps if 'libquarvel_depth_camera' in l))\n"],
                env=environment, cwd=tmp_path)
    for line in where.splitlines():
        assert line.startswith(str(venv)), where
    help_text = run([str(venv / "bin" / "quarvel"), "record", "--help"], env=environment)
    assert "usage: quarvel record" in help_text

    # The suite itself, from a copy outside the source tree so that nothing there is
    # importable, against the installed wheel only.
    suite = tmp_path / "suite"
    run(["cp", "-r", str(SOURCE / "tests" / "python"), str(suite)])
    result = subprocess.run([str(python), "-m", "pytest", "-q", "-p", "no:cacheprovider",
                             "--confcutdir", str(suite), "-m", "not slow and not soak", str(suite)],
                            capture_output=True, text=True, cwd=tmp_path,
                            env=dict(environment, PYTHONDONTWRITEBYTECODE="1"))
    assert result.returncode == 0, result.stdout[-4000:] + result.stderr[-2000:]
    assert " passed" in result.stdout
