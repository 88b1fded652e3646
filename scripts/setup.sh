#!/usr/bin/env bash
# Installs the Debian packages that Velmora's build and tests need. Safe to run
# again: it asks apt only for what is missing. Needs root (or sudo).
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev)

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
