#!/usr/bin/env bash
# Builds and runs every benchmark (a few minutes), writing bench/results.json and
# bench/results.txt; prints the table. Use an otherwise idle machine for figures worth keeping.
# Then counts the instructions of the armhf and arm64 builds under qemu-user
# (bench/instruction_counts.txt; cross trees build-count-<arch>, some minutes more; skipped
# with QUARVEL_BENCH_ARM=0).
# QUARVEL_CPU_LEVEL=scalar|v2|v3|v4 caps the level the run-time selected kernels may use
# (HQVGA depth, Y12P lines), so one machine measures what a CPU of that level would run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
# OpenCV: the baseline of the depth filters' benchmark (bench/filter_baselines.py).
"$root/scripts/install-deps.sh" python3-opencv
BUILD_DIR="$build_dir" "$root/scripts/build.sh" >/dev/null
# Older OpenBLAS settings of this environment slow numpy; they do not touch its arctan2,
# but the baseline should be what a user's numpy does.
env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE /usr/bin/python3 "$root/bench/run_all.py" "$build_dir"

if [ "${QUARVEL_BENCH_ARM:-1}" != 0 ]; then
  # The plugin needs the dynamically linked emulator (qemu-user, not qemu-user-static).
  "$root/scripts/install-deps.sh" qemu-user cmake ninja-build \
    g++-arm-linux-gnueabihf g++-aarch64-linux-gnu
  /usr/bin/python3 "$root/bench/arm_instruction_counts.py" "$root"
fi
