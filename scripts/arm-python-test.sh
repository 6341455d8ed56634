#!/usr/bin/env bash
# Cross-builds the Python module for 64-bit ARM and runs its pytest suite under qemu-user with
# Debian's arm64 python3.11 and numpy. Debian's arm64 python3 and numpy cannot be installed
# beside the host's, so their packages are unpacked into build-arm64-python/root instead.
# Usage: scripts/arm-python-test.sh [pytest marker expression, default "not slow"]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
markers=${1:-not slow and not browser}
build_dir="$root/build-arm64-python"
target_root="$build_dir/root"
triplet=aarch64-linux-gnu

"$root/scripts/install-deps.sh" cmake ninja-build libgtest-dev pybind11-dev qemu-user-static \
  g++-aarch64-linux-gnu

# Target packages: the interpreter, numpy and what they load; pytest and its helpers.
target_packages=(
  libc6 libgcc-s1 libstdc++6 zlib1g libexpat1 libssl3 libffi8 libbz2-1.0 liblzma5 libcrypt1
  libuuid1 python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libpython3.11
  libpython3.11-dev python3-numpy libblas3 liblapack3 libgfortran5
)
script_packages=(
  python3-pytest python3-pluggy python3-iniconfig python3-packaging python3-attr python3-py
  python3-more-itertools python3-pkg-resources
)

if [ ! -x "$target_root/usr/bin/python3.11" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" dpkg --add-architecture arm64
    "${sudo_cmd[@]}" apt-get update -qq
  fi
  rm -rf "$target_root" "$build_dir/debs"
  mkdir -p "$build_dir/debs" "$target_root"
  (cd "$build_dir/debs" &&
    apt-get download -qq "${target_packages[@]/%/:arm64}" "${script_packages[@]}")
  for package in "$build_dir"/debs/*.deb; do dpkg-deb -x "$package" "$target_root"; done
  # What the packages' install scripts would have done: the BLAS and LAPACK alternatives.
  libdir="$target_root/usr/lib/$triplet"
  ln -sf blas/libblas.so.3 "$libdir/libblas.so.3"
  ln -sf lapack/liblapack.so.3 "$libdir/liblapack.so.3"
  # pybind11 is headers only: seen from inside the target root, so that the host's
  # /usr/include never lands on the target's include path.
  mkdir -p "$target_root/usr/include" "$target_root/usr/lib/cmake"
  ln -sfn /usr/include/pybind11 "$target_root/usr/include/pybind11"
  ln -sfn /usr/lib/cmake/pybind11 "$target_root/usr/lib/cmake/pybind11"
  # The interpreter under qemu-user; argv[0] stays this script, so sys.executable (and the
  # subprocesses the tests start with it) come back here.
  cat >"$target_root/usr/bin/python3" <<'EOF'
#!/bin/sh
here=$(cd "$(dirname "$0")" && pwd)
target_root=$(dirname "$(dirname "$here")")
exec qemu-aarch64-static -L "$target_root" -0 "$here/python3" "$here/python3.11" "$@"
EOF
  chmod +x "$target_root/usr/bin/python3"
fi

nice cmake -S "$root" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/arm64.cmake" -DQUARVEL_TARGET_ROOT="$target_root" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" -DQUARVEL_WERROR=ON -DQUARVEL_BUILD_BENCH=OFF \
  -DPython3_EXECUTABLE="$target_root/usr/bin/python3" \
  -DPython3_INCLUDE_DIR="$target_root/usr/include/python3.11" >/dev/null
nice cmake --build "$build_dir" --parallel "$(nproc)" \
  --target QuarvelDepthCamera quarvel_module_fake_version quarvel_sim_kernel
"$target_root/usr/bin/python3" -c \
  'import platform, sys, numpy; print("python", sys.version.split()[0], platform.machine(), "numpy", numpy.__version__)'
cd "$build_dir/tests/python"
env PYTHONPATH="$build_dir/python" QUARVEL_FAKE_VERSION_MODULE_DIR="$build_dir/tests/python/fake_version" \
  PYTHONDONTWRITEBYTECODE=1 nice "$target_root/usr/bin/python3" -m pytest -q -p no:cacheprovider \
  -m "$markers" "$root/tests/python"
