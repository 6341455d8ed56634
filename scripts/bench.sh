#!/usr/bin/env bash
# Builds and runs every benchmark (a few minutes), writing bench/results.json and
# bench/results.txt; prints the table. Use an otherwise idle machine for figures worth keeping.
# Then counts the instructions of the armhf and arm64 builds under qemu-user
# (bench/instruction_counts.txt; cross trees build-count-<arch>, some minutes more; skipped
# with QUARVEL_BENCH_ARM=0).
# QUARVEL_CPU_LEVEL=scalar|v2|v3|v4 caps the level every run-time choice may use (HQVGA
# depth, raw interleave, Y12P lines, CSI copies, USB conversion, the stand-in phase
# library), so one machine measures what a CPU of that level would run:
# `QUARVEL_CPU_LEVEL=v3 scripts/bench.sh`. Each row of bench/results.txt names the build it
# ran. Then bench/level_table.py measures the targets with v4, v3 and v2 forced in turn
# (bench/levels.txt, about two minutes; skipped with QUARVEL_BENCH_LEVELS=0).
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
if [ "${QUARVEL_BENCH_LEVELS:-1}" != 0 ] && [ "$(uname -m)" = x86_64 ]; then
  env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE -u QUARVEL_CPU_LEVEL \
    /usr/bin/python3 "$root/bench/level_table.py" "$build_dir"
fi

if [ "${QUARVEL_BENCH_ARM:-1}" != 0 ]; then
  # The plugin needs the dynamically linked emulator (qemu-user, not qemu-user-static).
  "$root/scripts/install-deps.sh" qemu-user cmake ninja-build \
    g++-arm-linux-gnueabihf g++-aarch64-linux-gnu
  /usr/bin/python3 "$root/bench/arm_instruction_counts.py" "$root"
fi
