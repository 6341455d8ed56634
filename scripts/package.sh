#!/usr/bin/env bash
# Builds the Debian packages from the tree with Debian's toolchain (debhelper, dh-python,
# Debian's pybind11), for the build machine's architecture or cross-built for the ones named,
# and checks them with lintian. Usage: scripts/package.sh [amd64|armhf|arm64 ...]
# Packages land in build-deb/<arch>/ (the source is copied to build-deb/<arch>/src first, so
# that nothing is written beside the tree). Exit status: non-zero on any build or lintian error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_arch=$(dpkg --print-architecture)
architectures=("$@")
if [ ${#architectures[@]} -eq 0 ]; then
  architectures=("$build_arch")
fi

common=(build-essential fakeroot debhelper dh-python cmake ninja-build pkg-config lintian
  python3-dev pybind11-dev libzstd-dev liblz4-dev)
"$root/scripts/install-deps.sh" "${common[@]}"

# Two jobs on the shared machines; the tests run from the ordinary build tree, not here.
build_options=(parallel=2 nocheck)
if [ "${QUARVEL_PACKAGE_DEBUG:-0}" != 1 ]; then
  # Without debug information and its -dbgsym packages it compiles in about half the time;
  # QUARVEL_PACKAGE_DEBUG=1 builds them as a release would.
  build_options+=(noddebs)
  export DEB_CFLAGS_STRIP=-g DEB_CXXFLAGS_STRIP=-g
fi

for arch in "${architectures[@]}"; do
  if [ "$arch" != "$build_arch" ]; then
    # Cross: the target's libraries beside the build machine's (multiarch).
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      sudo_cmd=()
      if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
      "${sudo_cmd[@]}" dpkg --add-architecture "$arch"
      "${sudo_cmd[@]}" apt-get update -qq
    fi
    # The target's C++ run-time too: dpkg-shlibdeps reads its symbols to set the dependencies.
    "$root/scripts/install-deps.sh" "crossbuild-essential-$arch" "libstdc++6:$arch" "libpython3-dev:$arch" \
      "libzstd-dev:$arch" "liblz4-dev:$arch"
  fi

  out="$root/build-deb/$arch"
  started=$SECONDS
  rm -rf "$out"
  mkdir -p "$out/src"
  # Exactly the files git knows (committed or not), never a build tree.
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 tar -cf - --no-recursion) | tar -xf - -C "$out/src"
  echo "== $arch: dpkg-buildpackage"
  (cd "$out/src" &&
    DEB_BUILD_OPTIONS="${build_options[*]}" dpkg-buildpackage -us -uc -b -a"$arch" \
      >"$out/build.log" 2>&1) || { tail -40 "$out/build.log" >&2; echo "package: $arch build FAILED" >&2; exit 1; }
  rm -rf "$out/src"
  echo "== $arch: lintian"
  # Errors and warnings fail; every override is explained in debian/*.lintian-overrides.
  lintian --fail-on error,warning "$out"/*.changes
  ls "$out"/*.deb
  echo "== $arch: $((SECONDS - started)) s"
done
