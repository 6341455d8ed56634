#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. `--quick` runs the everyday subset.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
quick=0
if [ "${1:-}" = "--quick" ]; then quick=1; fi

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

if [ $quick -eq 1 ]; then
  ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)" -LE slow
  exit 0
fi
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"

# The heavier stages, each in its own build tree; any failure fails the run.
"$root/scripts/sanitizers.sh"
"$root/scripts/fuzz.sh"
"$root/scripts/arm-test.sh"
"$root/scripts/vm-test.sh"
# Installable: the Debian packages of this machine's architecture, built and lintian-checked,
# then installed, used and purged in a clean Debian 12 root.
"$root/scripts/package.sh"
"$root/scripts/install-test.sh"
