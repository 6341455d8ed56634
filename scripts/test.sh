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
# Installable: the Debian packages of this machine's architecture, built and lintian-checked,
# then installed, used and purged in a clean Debian 12 root. Making that root is mostly
# downloading, so the install test runs beside the fuzzing and sanitizer stages; its output
# comes after theirs.
"$root/scripts/package.sh"
# Everything the stages running side by side install, installed now: apt takes one at a time.
"$root/scripts/install-deps.sh" mmdebstrap clang libclang-rt-14-dev ninja-build cmake
install_log="$build_dir/install-test.log"
"$root/scripts/install-test.sh" > "$install_log" 2>&1 &
install_test=$!
trap 'kill "$install_test" 2>/dev/null || true' EXIT
"$root/scripts/fuzz.sh"
"$root/scripts/sanitizers.sh"
install_status=0
wait "$install_test" || install_status=$?
cat "$install_log"
if [ "$install_status" -ne 0 ]; then
  echo "install test failed (status $install_status)" >&2
  exit "$install_status"
fi
"$root/scripts/arm-test.sh"
"$root/scripts/vm-test.sh"
