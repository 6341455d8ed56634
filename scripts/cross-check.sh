#!/usr/bin/env bash
# Compiles the native library's sources for 32-bit and 64-bit ARM with Debian's cross
# compilers, warnings as errors, with the same floating-point and kernel options as the build.
# Usage: scripts/cross-check.sh [compiler...]   (default: both ARM compilers)
# Exit status 77 (skipped) when a compiler is not installed and nothing failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
compilers=("$@")
if [ ${#compilers[@]} -eq 0 ]; then
  compilers=(arm-linux-gnueabihf-g++ aarch64-linux-gnu-g++)
fi
common=(-std=c++17 -O2 -Wall -Wextra -Werror -ffp-contract=off -fno-fast-math -fPIC -I"$root")
# Kept in step with the per-file options of the top CMakeLists.txt.
kernel_options=(-O3 -fno-math-errno -fno-trapping-math)
kernels=" device/HqvgaPhaseKernel.cpp device/HqvgaRawInterleave.cpp sensor/SubframeCopy.cpp sensor/Y12PLines.cpp sensor/QuarvelTOFUSBSensor.cpp "
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0
missing=0
for compiler in "${compilers[@]}"; do
  if ! command -v "$compiler" >/dev/null; then
    echo "$compiler: not installed (scripts/install-deps.sh installs it)" >&2
    missing=1
    continue
  fi
  count=0
  cd "$root"
  for source in core/*.cpp sensor/*.cpp device/*.cpp; do
    options=("${common[@]}")
    if [[ "$kernels" == *" $source "* ]]; then options+=("${kernel_options[@]}"); fi
    if ! "$compiler" "${options[@]}" -c "$source" -o "$out/object.o"; then
      echo "$compiler: $source failed" >&2
      status=1
    fi
    count=$((count + 1))
  done
  echo "$compiler: $count sources compiled"
done
if [ $status -eq 0 ] && [ $missing -eq 1 ]; then exit 77; fi
exit $status
