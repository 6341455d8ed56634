#!/usr/bin/env bash
# Our MCAP files against the format's reference implementation (npm @mcap/core and Foxglove's
# ROS 2 CDR reader), and a file of the reference writer against our reader.
#   run_interop.sh TOOL SOURCE_DIR WORK_DIR
# Exit 77 (skipped) only when Node.js or npm is not installed.
set -euo pipefail
tool=$1 source_dir=$2 work=$3
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIP: node and npm are needed for the MCAP interop test (scripts/install-deps.sh installs them)"
  exit 77
fi
mkdir -p "$work/files"
# The reference packages, pinned by the committed lock file, installed once per build tree.
if ! cmp -s "$source_dir/package-lock.json" "$work/package-lock.json" ||
   [ ! -d "$work/node_modules/@mcap/core" ]; then
  cp "$source_dir/package.json" "$source_dir/package-lock.json" "$work/"
  (cd "$work" && npm ci --no-audit --no-fund --silent)
fi
cp "$source_dir/check_mcap.mjs" "$work/"
rm -f "$work/files/"*
"$tool" write "$work/files"
(cd "$work" && node check_mcap.mjs files)
"$tool" check "$work/files/js-written.mcap"
