#!/usr/bin/env bash
# Installs Debian 12 packages if missing: by default those the build, the tests and the examples
# need; with arguments, just the packages named (the heavier CI stages name their own).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib
  libsleef-dev libzstd-dev liblz4-dev
  mypy python3-build python3-venv
  g++-arm-linux-gnueabihf g++-aarch64-linux-gnu
  # The quarvel command's viewer (server, three.js) and its browser test.
  python3-aiohttp libjs-three chromium chromium-driver python3-selenium
)
if [ $# -gt 0 ]; then
  packages=("$@")
elif ! { command -v node && command -v npm; } >/dev/null 2>&1; then
  # The recording interop test runs the MCAP reference implementation under Node.js; a
  # machine that has node and npm from elsewhere keeps them.
  packages+=(nodejs npm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
