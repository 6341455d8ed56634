#!/usr/bin/env bash
# Runs the contract tests inside QEMU against the real kernel drivers (vivid, vimc, i2c-stub).
#
# Debian's own amd64 kernel boots with a busybox initramfs that holds the statically linked
# test program and the driver modules; vimc is built from linux-source against the matching
# linux-headers. The kernel is unpacked into build-vm/, never installed on this machine.
# Results come back on the second serial port, the exit status through isa-debug-exit.
# Exits non-zero when any check fails; skips (status 0) only when QEMU or the kernel packages
# cannot be had.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${VM_BUILD_DIR:-$root/build-vm}
boot_timeout=${VM_BOOT_TIMEOUT:-150}
mkdir -p "$work/cache"

skip() {
  echo "vm-test: SKIPPED: $*" >&2
  exit 0
}
say() { echo "vm-test: [${SECONDS}s] $*" >&2; }

# --- Packages -------------------------------------------------------------------------------
"$root/scripts/install-deps.sh" qemu-system-x86 busybox-static kmod cpio \
  || skip "qemu-system-x86, busybox-static, kmod or cpio cannot be installed"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not available"

# The kernel whose source package is at hand: the linux-headers-6.1.0-N-amd64 package of the
# same Debian version as linux-source-6.1 names the ABI of the image to fetch.
source_version=$(dpkg-query -W -f='${Version}' linux-source-6.1 2>/dev/null || true)
if [ -z "$source_version" ]; then
  source_version=$(apt-cache policy linux-source-6.1 2>/dev/null | awk '/Candidate:/ {print $2}')
fi
[ -n "$source_version" ] && [ "$source_version" != "(none)" ] \
  || skip "linux-source-6.1 is not in the package lists"
headers_packages=$(apt-cache search --names-only '^linux-headers-6\.1\.0-[0-9]+-amd64$' | awk '{print $1}')
abi=""
if [ -n "$headers_packages" ]; then
  # shellcheck disable=SC2086 # one name per word
  abi=$(apt-cache show $headers_packages 2>/dev/null \
    | awk -v want="$source_version" '/^Package:/ {name = $2} /^Version:/ && $2 == want && !found {print name; found = 1}')
  abi=${abi#linux-headers-}
fi
[ -n "$abi" ] || skip "no linux-headers-6.1.0-*-amd64 of version $source_version"
"$root/scripts/install-deps.sh" "linux-headers-$abi" linux-source-6.1 \
  || skip "linux-headers-$abi or linux-source-6.1 cannot be installed"

image_deb=$(ls "$work/cache/linux-image-${abi}_"*.deb 2>/dev/null | head -n1 || true)
if [ -z "$image_deb" ]; then
  (cd "$work/cache" && apt-get download "linux-image-$abi" >/dev/null 2>&1) \
    || skip "linux-image-$abi cannot be downloaded"
  image_deb=$(ls "$work/cache/linux-image-${abi}_"*.deb | head -n1)
fi

# --- Kernel and modules ---------------------------------------------------------------------
kernel_root=$work/kernel-$abi
if [ ! -e "$kernel_root/boot/vmlinuz-$abi" ]; then
  say "unpacking $(basename "$image_deb")"
  rm -rf "$kernel_root"
  mkdir -p "$kernel_root"
  dpkg-deb -x "$image_deb" "$kernel_root"
  depmod -b "$kernel_root" "$abi"
fi

# vimc is built in the background while the test program compiles.
vimc_dir=$work/vimc-$abi
build_vimc() {
  rm -rf "$vimc_dir" "$work/vimc-source"
  mkdir -p "$vimc_dir" "$work/vimc-source"
  tar -xJf /usr/src/linux-source-6.1.tar.xz -C "$work/vimc-source" \
    --wildcards 'linux-source-6.1/drivers/media/test-drivers/vimc/*'
  cp "$work/vimc-source/linux-source-6.1/drivers/media/test-drivers/vimc/"* "$vimc_dir/"
  rm -rf "$work/vimc-source"
  make -s -C "/usr/src/linux-headers-$abi" M="$vimc_dir" CONFIG_VIDEO_VIMC=m modules
}
vimc_job=""
if [ ! -e "$vimc_dir/vimc.ko" ]; then
  say "building vimc out of tree"
  build_vimc >"$work/vimc-build.log" 2>&1 &
  vimc_job=$!
fi

# --- The static test program ----------------------------------------------------------------
say "building the contract tests"
cmake -S "$root" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython3_EXECUTABLE=/usr/bin/python3 -DQUARVEL_WERROR=ON -DQUARVEL_BUILD_PYTHON=OFF \
  -DQUARVEL_VM_CONTRACT_TESTS=ON >"$work/cmake.log"
cmake --build "$work/build" --parallel "$(nproc)" --target quarvel_contract_vm >"$work/build.log" \
  || { cat "$work/build.log" >&2; exit 1; }
if [ -n "$vimc_job" ] && ! wait "$vimc_job"; then
  cat "$work/vimc-build.log" >&2
  say "vimc did not build"
  exit 1
fi

# --- Initramfs ------------------------------------------------------------------------------
initramfs=$work/initramfs
rm -rf "$initramfs"
mkdir -p "$initramfs"/{bin,dev,proc,sys,tmp,modules}
cp /bin/busybox "$initramfs/bin/busybox"
cp "$work/build/tests/contract/quarvel_contract_vm" "$initramfs/contract-tests"
strip "$initramfs/contract-tests"

# Modules in dependency order, each with the parameters it needs.
: >"$initramfs/modules/order"
add_module() {
  local name=$1 parameters=$2 line path
  while read -r line; do
    case $line in
      insmod\ *)
        path=$(echo "$line" | awk '{print $2}')
        if [ ! -e "$initramfs/modules/$(basename "$path")" ]; then
          cp "$path" "$initramfs/modules/"
          if [ "$(basename "$path" .ko)" = "$name" ]; then
            echo "insmod $(basename "$path") $parameters" >>"$initramfs/modules/order"
          else
            echo "insmod $(basename "$path")" >>"$initramfs/modules/order"
          fi
        fi
        ;;
    esac
  done < <(modprobe -d "$kernel_root" -S "$abi" --show-depends "$name")
}
# Two vivid instances with one capture node each: single-planar, then multi-planar.
add_module vivid "n_devs=2 node_types=0x1,0x1 multiplanar=1,2"
add_module i2c-stub "chip_addr=0x0c"
add_module i2c-dev ""
cp "$vimc_dir/vimc.ko" "$initramfs/modules/"
echo "insmod vimc.ko" >>"$initramfs/modules/order"

cat >"$initramfs/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
results=/dev/ttyS1
report() {
  # isa-debug-exit: QEMU ends with status (value << 1) | 1.
  printf "\\$(printf %03o "$1")" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
  poweroff -f
}
cd /modules
while read -r command module parameters; do
  if ! insmod "$module" $parameters; then
    echo "vm: insmod $module $parameters failed" >"$results"
    report 2
  fi
done <order
mdev -s 2>/dev/null
echo "vm: kernel $(uname -r), modules loaded" >"$results"
/contract-tests --gtest_color=no >"$results" 2>&1
report $?
EOF
chmod +x "$initramfs/init"
(cd "$initramfs" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"

# --- Boot -----------------------------------------------------------------------------------
results=$work/results.log
console=$work/console.log
rm -f "$results" "$console"
say "booting $abi under TCG"
status=0
timeout "$boot_timeout" qemu-system-x86_64 -accel tcg -m 1024 -smp 1 \
  -kernel "$kernel_root/boot/vmlinuz-$abi" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 panic=-1 quiet quarvel.vimc=1" \
  -display none -monitor none -no-reboot \
  -serial "file:$console" -serial "file:$results" \
  -device isa-debug-exit,iobase=0xf4,iosize=0x04 || status=$?

cat "$results" 2>/dev/null || true
case $status in
  1) say "all contract tests passed on the real kernel"; exit 0 ;;
  124) say "the virtual machine did not finish within ${boot_timeout}s (console: $console)" ;;
  5) say "a driver module did not load (console: $console)" ;;
  *) say "contract tests failed on the real kernel (QEMU status $status; console: $console)" ;;
esac
tail -n 20 "$console" >&2 || true
exit 1
