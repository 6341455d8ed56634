"""Build backend of the quarvel-depth-camera wheel (PEP 517), run by `python3 -m build`.

It configures the tree with CMake (only what ships: no tests, benchmarks or examples),
builds it with Ninja on two jobs, installs it into a staging directory and zips the Python
directory and the native libraries into a wheel: the libraries go under the environment's
prefix (lib/), where the extension modules' relative run path finds them, so the installed
wheel needs nothing from the build tree. QUARVEL_WHEEL_BUILD_DIR names a CMake tree to build and install from
instead of a fresh one (the test suite reuses its own tree that way).
"""
import base64
import csv
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import tomllib
import zipfile
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

ROOT = Path(__file__).resolve().parents[2]
# What a wheel may carry besides the Python files: libraries and extension modules.
_SHARED_OBJECT = re.compile(r"\.so(\.\d+)*$")


def project_version() -> str:
    """The version of CMakeLists.txt's project() call: the one version of everything."""
    text = (ROOT / "CMakeLists.txt").read_text()
    found = re.search(r"project\(\s*QuarvelDepthCamera\s+VERSION\s+([0-9.]+)", text)
    if found is None:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


def _project() -> Dict[str, Any]:
    with open(ROOT / "pyproject.toml", "rb") as f:
        return dict(tomllib.load(f)["project"])


def _distribution() -> str:
    return re.sub(r"[-.]+", "_", str(_project()["name"]))


def _tag() -> str:
    interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{interpreter}-{platform}"


def _metadata() -> str:
    project = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}",
             f"Version: {project_version()}", f"Summary: {project['description']}",
             f"Requires-Python: {project['requires-python']}"]
    lines += [f"Requires-Dist: {dependency}" for dependency in project.get("dependencies", [])]
    for extra, dependencies in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {d}; extra == "{extra}"' for d in dependencies]
    readme = (ROOT / project["readme"]).read_text()
    lines.append("Description-Content-Type: text/markdown")
    return "\n".join(lines) + "\n\n" + readme


def _entry_points() -> str:
    scripts = _project().get("scripts", {})
    return "[console_scripts]\n" + "".join(f"{k} = {v}\n" for k, v in scripts.items())


def _run(command: List[str]) -> None:
    print("+", " ".join(command), flush=True)
    subprocess.run(command, check=True)


def _cmake_tree(work: Path) -> Path:
    reused = os.environ.get("QUARVEL_WHEEL_BUILD_DIR")
    if reused:
        return Path(reused).resolve()
    tree = work / "cmake"
    _run(["cmake", "-S", str(ROOT), "-B", str(tree), "-G", "Ninja", "-DQUARVEL_WERROR=ON",
          "-DCMAKE_BUILD_TYPE=RelWithDebInfo", f"-DPython3_EXECUTABLE={sys.executable}",
          "-DQUARVEL_BUILD_TESTS=OFF", "-DQUARVEL_BUILD_BENCH=OFF",
          "-DQUARVEL_BUILD_EXAMPLES=OFF"])
    return tree


def _cache_value(tree: Path, name: str) -> str:
    for line in (tree / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    raise RuntimeError(f"{tree}: {name} is not configured")


def _stage(work: Path) -> Tuple[Path, Path, str]:
    """Builds the tree and installs it into work/stage. Returns the staged Python directory,
    the staged library directory and that directory relative to the prefix."""
    tree = _cmake_tree(work)
    # -j2 keeps a shared machine usable.
    _run(["cmake", "--build", str(tree), "--parallel", "2"])
    stage = work / "stage"
    _run(["cmake", "--install", str(tree), "--prefix", str(stage)])
    python_dir = _cache_value(tree, "QUARVEL_PYTHON_INSTALL_DIR")
    lib_dir = _cache_value(tree, "CMAKE_INSTALL_LIBDIR")
    # The modules' run path leads from lib/pythonX/dist-packages to the library directory;
    # a virtual environment's lib/python3.Y/site-packages has the same depth, so the
    # libraries go to the same place under the environment's prefix (the wheel's data).
    parts = Path(python_dir).parts
    if len(parts) != 3 or parts[0] != "lib" or Path(lib_dir).is_absolute():
        raise RuntimeError(f"the tree installs Python files into {python_dir} and libraries "
                           f"into {lib_dir}: a wheel needs lib/pythonX/dist-packages and a "
                           "relative library directory")
    return stage / python_dir, stage / lib_dir, lib_dir


def _wheel_files(python_dir: Path, lib_dir: Path, lib_data: str) -> List[Tuple[Path, str]]:
    """(file, name in the wheel): the Python directory as it is, and the libraries (by the
    names the loader asks for; a wheel holds no symbolic links) as data under the prefix."""
    files = []
    for path in sorted(python_dir.rglob("*")):
        relative = path.relative_to(python_dir)
        if path.is_file() and "__pycache__" not in relative.parts:
            files.append((path, relative.as_posix()))
    for path in sorted(lib_dir.iterdir()):
        if not path.is_file() or not _SHARED_OBJECT.search(path.name):
            continue
        if _soname(path.resolve()) not in (None, path.name):
            continue
        files.append((path, f"{lib_data}/{path.name}"))
    return files


def _soname(library: Path) -> Optional[str]:
    output = subprocess.run(["objdump", "-p", str(library)], check=True, capture_output=True,
                            text=True).stdout
    found = re.search(r"^\s*SONAME\s+(\S+)", output, re.MULTILINE)
    return found.group(1) if found else None


def _record_line(name: str, data: bytes) -> List[str]:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return [name, f"sha256={digest}", str(len(data))]


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, Any]] = None,
                metadata_directory: Optional[str] = None) -> str:
    """Builds the wheel into wheel_directory and returns its file name."""
    version = project_version()
    dist_info = f"{_distribution()}-{version}.dist-info"
    name = f"{_distribution()}-{version}-{_tag()}.whl"
    with tempfile.TemporaryDirectory(prefix="quarvel-wheel-") as work_dir:
        python_dir, lib_dir, lib_relative = _stage(Path(work_dir))
        records: List[List[str]] = []
        target = Path(wheel_directory) / name
        data_dir = f"{_distribution()}-{version}.data/data"
        with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as wheel:
            for path, arcname in _wheel_files(python_dir, lib_dir, f"{data_dir}/{lib_relative}"):
                data = path.read_bytes()
                info = zipfile.ZipInfo(arcname, date_time=(2026, 1, 1, 0, 0, 0))
                mode = 0o755 if os.access(path, os.X_OK) else 0o644
                info.external_attr = (0o100000 | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                wheel.writestr(info, data)
                records.append(_record_line(arcname, data))
            meta = {
                "METADATA": _metadata(),
                "WHEEL": ("Wheel-Version: 1.0\nGenerator: quarvel_wheel\n"
                          f"Root-Is-Purelib: false\nTag: {_tag()}\n"),
                "entry_points.txt": _entry_points(),
                "top_level.txt": "QuarvelDepthCamera\nquarvel\nquarvel_tools\n",
            }
            for file_name, text in meta.items():
                arcname = f"{dist_info}/{file_name}"
                wheel.writestr(arcname, text)
                records.append(_record_line(arcname, text.encode()))
            out = io.StringIO()
            csv.writer(out, lineterminator="\n").writerows(records + [[f"{dist_info}/RECORD", "", ""]])
            wheel.writestr(f"{dist_info}/RECORD", out.getvalue())
    return name


def get_requires_for_build_wheel(config_settings: Optional[Dict[str, Any]] = None) -> List[str]:
    """Nothing from an index: CMake, Ninja, a compiler and pybind11 come from Debian."""
    if shutil.which("cmake") is None or shutil.which("ninja") is None:
        raise RuntimeError("building the wheel needs cmake and ninja (scripts/install-deps.sh)")
    return []
