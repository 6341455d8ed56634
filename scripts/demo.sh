#!/usr/bin/env bash
# The main job on the simulated camera: installs what is missing, builds, captures depth for
# a few seconds printing the statistics, and writes colorised depth and amplitude images.
#   scripts/demo.sh [--frames N] [--images DIR]   (other capture_depth.py options pass on)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

frames=150   # five seconds at the simulated camera's 30 frames per second
images_dir=$build_dir/demo
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --images) images_dir=$2; shift 2 ;;
    *) extra+=("$1"); shift ;;
  esac
done

"$root/scripts/install-deps.sh"
BUILD_DIR=$build_dir "$root/scripts/build.sh"

echo
echo "Capturing $frames depth frames from the simulated USB camera:"
PYTHONPATH="$build_dir/python${PYTHONPATH:+:$PYTHONPATH}" /usr/bin/python3 \
  "$root/examples/capture_depth.py" --connect usb --index 0 --frames "$frames" \
  --images "$images_dir" "${extra[@]}"
