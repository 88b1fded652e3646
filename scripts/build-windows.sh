#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into DIR (default
# build-win): DIR/bin/fwp.exe, DIR/bin/velmora.exe (the dialog) and the
# Windows unit tests, and
# DIR/velmora-windows.zip with the programs (stripped; they need only DLLs
# that come with Windows) and their README (docs/windows-README.txt).
# Further arguments go to cmake's configure step. VELMORA_WIN_TARGETS="fwp"
# builds only the targets it names.
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
  # Without its debugging symbols, which only the build tree needs.
  x86_64-w64-mingw32-strip -o "$stage/fwp.exe" "$dir/bin/fwp.exe"
  if [ -f "$dir/bin/velmora.exe" ]; then
    x86_64-w64-mingw32-strip -o "$stage/velmora.exe" "$dir/bin/velmora.exe"
  fi
  # Windows line ends, so that Notepad shows the README as it should.
  sed 's/$/\r/' docs/windows-README.txt >"$stage/README.txt"
  (cd "$dir" && cmake -E tar cf velmora-windows.zip --format=zip velmora-windows)
  echo "build-windows: $dir/bin/fwp.exe, $dir/velmora-windows.zip"
fi
