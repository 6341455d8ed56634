#!/usr/bin/env bash
# Installs the built Debian packages into a clean Debian 12 root made for the test (mmdebstrap
# from the configured Debian mirror) and uses them as a user would, with nothing of the build
# tree on any path: the Python examples, the quarvel command, and C++ programs built with
# find_package and with pkg-config. Then purges them and checks that nothing is left behind.
# Usage: scripts/install-test.sh [DEB_DIR]   (default: build-deb/<this machine's arch>, made
# by scripts/package.sh). Needs root (chroot); unprivileged, it says so and skips (status 0).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$(dpkg --print-architecture)
deb_dir=$(cd "${1:-$root/build-deb/$arch}" && pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "install-test: SKIPPED: making and entering a Debian root needs root (run as root)"
  exit 0
fi
"$root/scripts/install-deps.sh" mmdebstrap
shopt -s nullglob
# Debug symbols are not part of what a user installs.
debs=()
for deb in "$deb_dir"/*.deb; do
  case "$deb" in *-dbgsym_*) ;; *) debs+=("$deb") ;; esac
done
if [ ${#debs[@]} -eq 0 ]; then
  echo "install-test: no .deb files in $deb_dir (run scripts/package.sh first)" >&2
  exit 2
fi

# The Debian mirror this machine is configured with (deb822 or one-line sources).
mirror=$(grep -hoE 'https?://[^ ]*/debian/?( |$)' /etc/apt/sources.list \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null | head -1 | tr -d ' ' || true)
mirror=${mirror:-http://deb.debian.org/debian}
work="$root/build-deb/install-test"
rm -rf "$work"
mkdir -p "$work/payload/debs"
cp "${debs[@]}" "$work/payload/debs/"
# What a user brings: the examples, and the tools to build a C++ program. The root holds the
# packages' Debian dependencies and recommendations up front, so that after the purge its
# file list must be exactly what it was before our packages came.
cp -r "$root/examples" "$work/payload/examples"
cp "$root/scripts/install-test-in-root.sh" "$work/payload/"

started=$SECONDS
echo "== install-test: Debian 12 root from $mirror"
# The root is a plain directory; the hooks run inside it with /proc, /sys and /dev mounted.
mmdebstrap --quiet --variant=apt --include=build-essential,cmake,pkg-config,python3-numpy,python3-matplotlib,python3-aiohttp,libjs-three \
  --customize-hook="copy-in $work/payload /tmp" \
  --customize-hook='chroot "$1" /bin/bash /tmp/payload/install-test-in-root.sh' \
  bookworm "$work/root" "deb $mirror bookworm main" "deb $mirror bookworm-updates main"
echo "install-test: passed ($((SECONDS - started)) s)"
