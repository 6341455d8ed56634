#!/bin/bash
# Runs inside the clean Debian root of scripts/install-test.sh: install, use, purge, compare.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
unset PYTHONPATH LD_LIBRARY_PATH
payload=/tmp/payload
ours=(libquarvel-depth-camera0 libquarvel-depth-camera-dev python3-quarvel-depth-camera
  quarvel-depth-camera-sim libquarvel-evk-sdk-sim libsi4c-sim)
fail() { echo "install-test: FAILED: $*" >&2; exit 1; }

# Every file outside the volatile places, to compare after the purge.
snapshot() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /run \
    -o -path /var/cache -o -path /var/log -o -path /var/lib/apt -o -path /var/lib/dpkg \
    -o -path /root \) -prune -o -print | sort
}
snapshot >/tmp/before.txt

echo "== apt-get install of the built packages"
# As a user would: with the recommended packages (the examples draw with matplotlib).
apt-get install -y -qq -o APT::Install-Recommends=true "$payload"/debs/*.deb >/tmp/apt.log 2>&1 ||
  { cat /tmp/apt.log; fail "apt-get install"; }
for package in "${ours[@]}"; do
  dpkg-query -W -f='${Status}\n' "$package" | grep -q "install ok installed" ||
    fail "$package is not installed"
  dpkg -L "$package" >>/tmp/owned.txt
done

cd /tmp
echo "== Python: the module and the packages come from the installed files"
python3 - <<'PY'
import QuarvelDepthCamera, quarvel, quarvel_tools, quarvel.geometry
for module in (QuarvelDepthCamera, quarvel, quarvel_tools):
    assert module.__file__.startswith("/usr/lib/python3/dist-packages/"), module.__file__
with open("/proc/self/maps") as maps:
    libraries = {line.split()[-1] for line in maps if "libquarvel" in line}
assert "/usr/lib/" + __import__("sysconfig").get_config_var("MULTIARCH") + \
    "/libquarvel_depth_camera.so.0.1.0" in {l for l in libraries}, libraries
assert QuarvelDepthCamera.__version__ == "dev"
print("imports from", sorted(libraries))
PY
test -f /usr/lib/python3/dist-packages/QuarvelDepthCamera.pyi || fail "the module's type stub is missing"

echo "== the examples"
# The simulated room's back wall, straight ahead, is 3 m away; a line comes every second.
out=$(python3 "$payload/examples/capture_depth.py" --connect usb --index 0 --frames 45)
echo "$out" | tail -2
echo "$out" | grep -qE "centre +(29[0-9][0-9]|30[0-9][0-9]|3100)\.[0-9] mm" ||
  fail "capture_depth.py: no centre distance near the back wall"
python3 "$payload/examples/point_cloud.py" --frames 2 --output /tmp/cloud.ply
head -c 3 /tmp/cloud.ply | grep -q ply || fail "point_cloud.py wrote no PLY file"
python3 "$payload/examples/capture_raw.py" --frames 2 >/dev/null || fail "capture_raw.py"

echo "== the quarvel command"
quarvel --help | grep -q "usage: quarvel" || fail "quarvel --help"
quarvel record --help | grep -q "usage: quarvel record" || fail "quarvel record --help"
# `quarvel list` arrives with the device subcommands; it runs wherever the command has it.
if quarvel list --help >/dev/null 2>&1; then
  quarvel list || fail "quarvel list"
fi
# The recorder may take a frame more than asked while it stops.
quarvel record --frames 5 --quiet /tmp/five.mcap | grep -qE "recorded ([5-9]|[1-9][0-9]+) frames" ||
  fail "quarvel record"
quarvel play --fast /tmp/five.mcap | grep -qE "^played ([5-9]|[1-9][0-9]+) frames" || fail "quarvel play"

echo "== C++: find_package against the installed -dev package"
cmake -S "$payload/examples/cpp" -B /tmp/cpp-build -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/tmp/cmake.log ||
  { cat /tmp/cmake.log; fail "configure with find_package"; }
grep -q "^QuarvelDepthCamera_DIR:PATH=/usr/lib/" /tmp/cpp-build/CMakeCache.txt || fail "package not found under /usr/lib"
cmake --build /tmp/cpp-build >/tmp/cmake.log || { cat /tmp/cmake.log; fail "build with find_package"; }
out=$(/tmp/cpp-build/capture_depth --connect usb --index 0 --frames 10)
echo "$out" | grep -q "captured 10 depth frames" || fail "the C++ example captured no frames: $out"
echo "== C++: pkg-config"
# shellcheck disable=SC2046
g++ -std=c++17 -o /tmp/capture_depth_pc "$payload/examples/cpp/capture_depth.cpp" \
  $(pkg-config --cflags --libs quarvel-depth-camera)
/tmp/capture_depth_pc --connect usb --index 0 --frames 3 | grep -q "captured 3 depth frames" ||
  fail "the pkg-config build captured no frames"

echo "== the vendor's USB SDK package replaces our stand-in"
# A package of the vendor's name holding a library of the vendor's file name (our stand-in's
# bytes serve as that library here).
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
vendor=/tmp/vendor-sdk
mkdir -p "$vendor/DEBIAN" "$vendor/usr/lib/$multiarch"
cp "/usr/lib/$multiarch/libquarvel_evk_sdk.so" "$vendor/usr/lib/$multiarch/"
cat >"$vendor/DEBIAN/control" <<CONTROL
Package: libquarvel-evk-sdk
Version: 1.0
Architecture: $(dpkg --print-architecture)
Maintainer: Vendor <vendor@example.invalid>
Description: the vendor's USB camera SDK (test double)
CONTROL
dpkg-deb --build --root-owner-group "$vendor" /tmp/vendor-sdk.deb >/dev/null
apt-get install -y -qq /tmp/vendor-sdk.deb >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; fail "install the vendor's package"; }
if dpkg-query -W -f='${Status}\n' libquarvel-evk-sdk-sim 2>/dev/null | grep -q "install ok installed"; then
  fail "the stand-in stayed installed beside the vendor's package"
fi
dpkg-query -W -f='${Status}\n' libquarvel-depth-camera0 | grep -q "install ok installed" ||
  fail "the library went with the stand-in"
/tmp/cpp-build/capture_depth --connect usb --index 0 --frames 3 | grep -q "captured 3 depth frames" ||
  fail "the library does not run on the vendor's package"
ours+=(libquarvel-evk-sdk)

echo "== purge"
apt-get purge -y -qq --autoremove "${ours[@]}" >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; fail "purge"; }
left=$(while read -r path; do [ -e "$path" ] && [ ! -d "$path" ] && echo "$path"; done </tmp/owned.txt || true)
[ -z "$left" ] || fail "files of the packages left after the purge: $left"
snapshot >/tmp/after.txt
new=$(comm -13 /tmp/before.txt /tmp/after.txt)
[ -z "$new" ] || fail "left behind after the purge: $new"
echo "install-test: nothing left behind"
