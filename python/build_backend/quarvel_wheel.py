"""Build backend of the quarvel-depth-camera wheel (PEP 517), run by `python3 -m build`.

It configures the tree with CMake (only what ships: no tests, benchmarks or examples),
builds it with Ninja on two jobs, installs it into a staging directory laid out as
site-packages and zips that into a wheel. The extension modules find the native libraries
in quarvel_depth_camera.libs/ through their relative run path, so the wheel needs nothing
from the build tree. QUARVEL_WHEEL_BUILD_DIR names a CMake tree to build and install from
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
from typing import Any, Dict, List, Optional

ROOT = Path(__file__).resolve().parents[2]
LIBS_DIR = "quarvel_depth_camera.libs"
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
    _run(["cmake", "-S", str(ROOT), "-B", str(tree), "-G", "Ninja",
          "-DCMAKE_BUILD_TYPE=RelWithDebInfo", f"-DPython3_EXECUTABLE={sys.executable}",
          "-DQUARVEL_BUILD_TESTS=OFF", "-DQUARVEL_BUILD_BENCH=OFF",
          "-DQUARVEL_BUILD_EXAMPLES=OFF"])
    return tree


def _stage(work: Path) -> Path:
    """Builds and installs the tree into work/stage, laid out as site-packages."""
    tree = _cmake_tree(work)
    # Only the installed components matter; -j2 keeps a shared machine usable.
    _run(["cmake", "--build", str(tree), "--parallel", "2"])
    prefix = work / "prefix"
    site = "site"
    # Libraries beside the packages: the modules' run path is computed from these two.
    _run(["cmake", "-S", str(ROOT), "-B", str(tree), f"-DCMAKE_INSTALL_PREFIX={prefix}",
          f"-DCMAKE_INSTALL_LIBDIR={site}/{LIBS_DIR}", f"-DQUARVEL_PYTHON_INSTALL_DIR={site}"])
    try:
        _run(["cmake", "--install", str(tree)])
    finally:
        if os.environ.get("QUARVEL_WHEEL_BUILD_DIR"):
            # A reused tree gets its usual layout back.
            _run(["cmake", "-S", str(ROOT), "-B", str(tree), "-UCMAKE_INSTALL_PREFIX",
                  "-UCMAKE_INSTALL_LIBDIR", "-UQUARVEL_PYTHON_INSTALL_DIR"])
    return prefix / site


def _wheel_files(staged: Path) -> List[Path]:
    files = []
    for path in sorted(staged.rglob("*")):
        relative = path.relative_to(staged)
        if path.is_dir() or "__pycache__" in relative.parts:
            continue
        if relative.parts[0] == LIBS_DIR:
            # Only the libraries, by the names the loader asks for (a wheel holds no
            # symbolic links; development names and CMake/pkg-config files stay out).
            if relative.parts[1] in ("cmake", "pkgconfig") or not _SHARED_OBJECT.search(path.name):
                continue
            if _soname(path.resolve()) not in (None, path.name):
                continue
        files.append(path)
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
        staged = _stage(Path(work_dir))
        records: List[List[str]] = []
        target = Path(wheel_directory) / name
        with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as wheel:
            for path in _wheel_files(staged):
                data = path.read_bytes()
                arcname = path.relative_to(staged).as_posix()
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
