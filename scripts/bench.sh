#!/usr/bin/env bash
# Builds and runs every benchmark (a few minutes), writing bench/results.json and
# bench/results.txt; prints the table. Use an otherwise idle machine for figures worth keeping.
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
