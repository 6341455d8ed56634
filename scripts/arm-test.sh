#!/usr/bin/env bash
# Cross-builds the library, the stand-ins, the simulation and the C++ tests for 32-bit (armhf)
# and 64-bit (arm64) ARM with Debian's cross compilers, and runs every test under qemu-user.
# Usage: scripts/arm-test.sh [armhf|arm64 ...]   (default: both). Trees: build-<arch>/.
# Exit status: non-zero when anything fails to build or any test fails on any architecture.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
architectures=("$@")
if [ ${#architectures[@]} -eq 0 ]; then
  architectures=(armhf arm64)
fi

"$root/scripts/install-deps.sh" cmake ninja-build libgtest-dev qemu-user-static \
  g++-arm-linux-gnueabihf g++-aarch64-linux-gnu

# Stress and fault sweeps run at a twentieth of their length under emulation: they prove the
# same paths, and at full length they alone would take longer than the rest of the suite.
export QUARVEL_STRESS_SCALE=${QUARVEL_STRESS_SCALE:-0.05}

failed=()
for arch in "${architectures[@]}"; do
  toolchain="$root/cmake/toolchains/$arch.cmake"
  if [ ! -f "$toolchain" ]; then
    echo "arm-test: no toolchain file for '$arch' (cmake/toolchains/)" >&2
    exit 2
  fi
  build_dir="$root/build-$arch"
  started=$SECONDS
  echo "== $arch: build ($build_dir)"
  # No debug information: it doubles the compile time and nothing here reads it.
  if ! nice cmake -S "$root" -B "$build_dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" \
      -DQUARVEL_WERROR=ON -DQUARVEL_BUILD_PYTHON=OFF -DQUARVEL_BUILD_BENCH=OFF >/dev/null ||
    ! nice cmake --build "$build_dir" --parallel "$(nproc)"; then
    echo "== $arch: build FAILED" >&2
    failed+=("$arch build")
    continue
  fi
  echo "== $arch: tests under $(grep -m1 '^QUARVEL_CROSS_EMULATOR:' "$build_dir/CMakeCache.txt" | cut -d= -f2)"
  if ! nice ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"; then
    failed+=("$arch tests")
  fi
  echo "== $arch: $((SECONDS - started)) s"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "arm-test: FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "arm-test: ${architectures[*]} passed"
