#!/usr/bin/env bash
# The long soak from Python: 500 open-start-stream-stop-close cycles, then 10 minutes of
# streaming with random control changes; descriptors, threads and resident memory are
# counted before and after. Figures go to $QUARVEL_SOAK_REPORT (default build/soak.json).
# QUARVEL_SOAK_CYCLES and QUARVEL_SOAK_SECONDS change the length.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
export QUARVEL_SOAK_CYCLES=${QUARVEL_SOAK_CYCLES:-500}
export QUARVEL_SOAK_SECONDS=${QUARVEL_SOAK_SECONDS:-600}
export QUARVEL_SOAK_REPORT=${QUARVEL_SOAK_REPORT:-$build_dir/soak.json}
export PYTHONPATH=$build_dir/python PYTHONDONTWRITEBYTECODE=1
cd "$root/tests/python"
/usr/bin/python3 -m pytest -q -s -p no:cacheprovider -m soak test_soak.py
echo "figures: $QUARVEL_SOAK_REPORT"
