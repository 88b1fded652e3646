#!/usr/bin/env bash
# Installs the Debian packages that Velmora's build and tests need. Safe to run
# again: it asks apt only for what is missing. Needs root (or sudo).
#   scripts/setup.sh            the Linux build, its tests and the demo
#   scripts/setup.sh windows    also the Windows cross build and Wine, and the
#                               virtual machine of scripts/test-vm.sh
#   scripts/setup.sh vm         the virtual machine alone: QEMU, busybox-static
#                               and Debian's kernel package (downloaded, not
#                               installed) in /var/cache/velmora-vm
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev
  # the tools' command lines (header-only; the Windows build uses it too)
  libcli11-dev
  # the dialog front end: Qt 6 Widgets and Test, its X11 platform plugin, a
  # font for the offscreen platform, and an X server for the end-to-end test
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins fonts-dejavu-core xvfb xauth
  # the fuzz targets: clang 14 and its runtimes (libFuzzer, ASan, UBSan)
  clang libclang-rt-14-dev
  # the Debian package: dpkg-shlibdeps finds its library dependencies
  dpkg-dev)
vm=
if [ "${1:-}" = windows ] || [ "${1:-}" = vm ]; then
  # the virtual machine (scripts/test-vm.sh): QEMU, the guest's shell and
  # tools, Python for the host's side; xz to unpack the kernel
  packages+=(qemu-system-x86 busybox-static python3 xz-utils)
  vm=1
fi
if [ "${1:-}" = windows ]; then
  # the Windows build: mingw-w64 (64-bit, posix threads) and Wine to run its
  # programs and tests; GoogleTest's sources, built for the target; NSIS for
  # the installer
  packages+=(g++-mingw-w64-x86-64-posix wine64 googletest nsis)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -q
  updated=1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The guest's kernel: the package that linux-image-amd64 depends on, fetched
# as a .deb and never installed (its installation would build an initramfs
# for this machine, which takes minutes). scripts/test-vm.sh unpacks it.
if [ -n "$vm" ]; then
  cache=/var/cache/velmora-vm
  [ -n "$updated" ] || [ -n "$(ls /var/lib/apt/lists/*_Packages* 2>/dev/null)" ] || {
    $sudo apt-get update -q
    updated=1
  }
  kernel=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/{print $2; exit}')
  if [ -z "$kernel" ] && [ -z "$updated" ]; then
    $sudo apt-get update -q
    kernel=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/{print $2; exit}')
  fi
  [ -n "$kernel" ] || { echo "setup: no kernel package behind linux-image-amd64" >&2; exit 1; }
  if ! ls "$cache/${kernel}_"*.deb >/dev/null 2>&1; then
    echo "setup: downloading $kernel into $cache"
    $sudo mkdir -p "$cache"
    # apt's download user may not write there; the download is checked
    # against the archive's signed lists all the same.
    (cd "$cache" && $sudo apt-get download -q "$kernel" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    ls "$cache/${kernel}_"*.deb >/dev/null 2>&1 || { echo "setup: could not download $kernel" >&2; exit 1; }
  fi
fi
