#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into DIR (default
# build-win): DIR/bin/fwp.exe, and DIR/velmora-windows.zip with the programs
# and their README. Extra arguments go to cmake, e.g. a target list after
# --target is not taken; use VELMORA_WIN_TARGETS="fwp engine_test" to build
# only those (the zip is made whenever fwp.exe is built).
#   scripts/build-windows.sh [DIR] [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win}
shift || true
cmake -S . -B "$dir" -G Ninja -DVELMORA_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" "$@" >/dev/null
targets=(${VELMORA_WIN_TARGETS:-all})
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"

# The zip: the programs and the short README, in a folder of their own.
if [ -f "$dir/bin/fwp.exe" ]; then
  stage="$dir/velmora-windows"
  rm -rf "$stage" "$dir/velmora-windows.zip"
  mkdir -p "$stage"
  cp "$dir/bin/fwp.exe" "$stage/"
  # Windows line ends, so that Notepad shows the README as it should.
  sed 's/$/\r/' docs/windows-README.txt >"$stage/README.txt"
  (cd "$dir" && cmake -E tar cf velmora-windows.zip --format=zip velmora-windows)
  echo "build-windows: $dir/bin/fwp.exe, $dir/velmora-windows.zip"
fi
