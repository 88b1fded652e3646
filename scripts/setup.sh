#!/usr/bin/env bash
# Installs the Debian packages that Velmora's build and tests need. Safe to run
# again: it asks apt only for what is missing. Needs root (or sudo).
#   scripts/setup.sh            the Linux build, its tests and the demo
#   scripts/setup.sh windows    also the Windows cross build and Wine
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
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
