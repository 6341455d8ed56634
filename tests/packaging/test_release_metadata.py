"""One version everywhere, a current API reference page, and Debian packages that split the
installed files the way the library's users need."""
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("QUARVEL_SOURCE_DIR", Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(SOURCE / "python" / "build_backend"))
import quarvel_wheel  # noqa: E402


def cmake_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(QuarvelDepthCamera VERSION ([0-9.]+)", text).group(1)


class TestVersions:
    def test_the_package_version_is_the_library_version(self):
        first = (SOURCE / "debian" / "changelog").read_text().splitlines()[0]
        found = re.match(r"quarvel-depth-camera \(([^)]+)\) ", first)
        assert found, first
        # Native package: upstream version, or upstream version with a +N rebuild suffix.
        assert re.fullmatch(re.escape(cmake_version()) + r"(\+[0-9a-z.~]+)?", found.group(1))

    def test_the_changelog_names_the_current_version_first(self):
        headings = re.findall(r"^## \[?([0-9][0-9.]*)\]?", (SOURCE / "CHANGELOG.md").read_text(),
                              re.MULTILINE)
        assert headings and headings[0] == cmake_version()

    def test_the_wheel_takes_its_version_from_cmake(self):
        assert quarvel_wheel.project_version() == cmake_version()

    def test_the_shared_library_name_carries_the_major_version(self):
        build = Path(os.environ["QUARVEL_BUILD_DIR"])
        major = cmake_version().split(".")[0]
        library = build / f"libquarvel_depth_camera.so.{cmake_version()}"
        output = subprocess.run(["objdump", "-p", str(library)], check=True,
                                capture_output=True, text=True).stdout
        assert re.search(rf"SONAME\s+libquarvel_depth_camera\.so\.{major}$", output, re.MULTILINE)

    def test_the_module_version_text_is_unchanged(self):
        import QuarvelDepthCamera
        assert QuarvelDepthCamera.__version__ == "dev"


def test_the_api_reference_page_is_current():
    result = subprocess.run([sys.executable, str(SOURCE / "scripts" / "api-reference.py"),
                             "--check"], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr


def control_stanzas():
    text = (SOURCE / "debian" / "control").read_text()
    stanzas = []
    for block in text.strip().split("\n\n"):
        fields = {}
        for line in block.splitlines():
            if line[:1] not in (" ", "\t") and ":" in line:
                key, value = line.split(":", 1)
                fields[key] = value.strip()
            elif fields:
                fields[key] += " " + line.strip()
        stanzas.append(fields)
    return stanzas[0], {s["Package"]: s for s in stanzas[1:]}


class TestDebianPackages:
    def test_the_stand_ins_can_be_replaced_by_the_vendors_libraries(self):
        _, packages = control_stanzas()
        for ours, vendors in (("libquarvel-evk-sdk-sim", "libquarvel-evk-sdk"),
                              ("libsi4c-sim", "libsi4c")):
            stanza = packages[ours]
            for field in ("Provides", "Conflicts", "Replaces"):
                assert stanza[field] == vendors, (ours, field)
        depends = packages["libquarvel-depth-camera0"]["Depends"]
        assert "libquarvel-evk-sdk-sim | libquarvel-evk-sdk" in depends
        assert "libsi4c-sim | libsi4c" in depends

    def test_the_library_package_is_named_after_its_soname(self):
        _, packages = control_stanzas()
        major = cmake_version().split(".")[0]
        assert f"libquarvel-depth-camera{major}" in packages

    @pytest.mark.parametrize("package,pattern", [
        ("libquarvel-depth-camera0", "libquarvel_depth_camera.so.*"),
        ("libquarvel-depth-camera-dev", "usr/include/QuarvelDepthCamera"),
        ("libquarvel-depth-camera-dev", "cmake/QuarvelDepthCamera"),
        ("libquarvel-depth-camera-dev", "pkgconfig"),
        ("python3-quarvel-depth-camera", "usr/lib/python3/dist-packages"),
        ("python3-quarvel-depth-camera", "usr/bin/quarvel"),
        ("quarvel-depth-camera-sim", "libquarvel_sim_kernel.so"),
        ("libquarvel-evk-sdk-sim", "libquarvel_evk_sdk.so"),
        ("libsi4c-sim", "libsi4c.so"),
    ])
    def test_each_package_ships_its_part(self, package, pattern):
        lines = (SOURCE / "debian" / f"{package}.install").read_text().splitlines()
        assert any(line.endswith(pattern) for line in lines), lines

    def test_the_viewer_needs_are_recommended_with_the_command(self):
        _, packages = control_stanzas()
        recommends = packages["python3-quarvel-depth-camera"]["Recommends"]
        assert "python3-aiohttp" in recommends and "libjs-three" in recommends
