#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into DIR (default
# build-win): DIR/bin/fwp.exe, velmora.exe (the dialog), velmora-ports.exe and
# the Windows unit tests;
# DIR/velmora-windows.zip with the programs (stripped; they need only DLLs
# that come with Windows) and their README (docs/windows-README.txt); and
# DIR/velmora-setup.exe, the installer of the same files (makensis, from
# Debian's nsis, with resources/velmora.nsi).
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

# The zip and the installer: the programs built and the short README, staged
# in a folder of their own. Whatever programs the stage holds are zipped and
# installed; none is named twice.
if [ -f "$dir/bin/fwp.exe" ]; then
  stage="$dir/velmora-windows"
  rm -rf "$stage" "$dir/velmora-windows.zip" "$dir/velmora-setup.exe"
  mkdir -p "$stage"
  # Without their debugging symbols, which only the build tree needs.
  for program in fwp velmora velmora-ports; do
    if [ -f "$dir/bin/$program.exe" ]; then
      x86_64-w64-mingw32-strip -o "$stage/$program.exe" "$dir/bin/$program.exe"
    fi
  done
  # Windows line ends, so that Notepad shows the README as it should.
  sed 's/$/\r/' docs/windows-README.txt >"$stage/README.txt"
  (cd "$dir" && cmake -E tar cf velmora-windows.zip --format=zip velmora-windows)

  # resources/velmora.nsi installs and removes the files that files.nsh names:
  # every file of the stage.
  files="$dir/installer-files.nsh"
  {
    echo '!macro VelmoraInstallFiles'
    for f in "$stage"/*; do echo "  File \"$(realpath "$f")\""; done
    echo '!macroend'
    echo '!macro VelmoraRemoveFiles'
    for f in "$stage"/*; do echo "  Delete \"\$INSTDIR\\$(basename "$f")\""; done
    echo '!macroend'
  } >"$files"
  version=$(sed -n 's/^project(Velmora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  makensis -V2 -WX -DVERSION="$version" -DFILES="$(realpath "$files")" \
    -DOUTFILE="$(realpath "$dir")/velmora-setup.exe" resources/velmora.nsi >/dev/null
  echo "build-windows: $(cd "$stage" && echo *) in $dir/velmora-windows.zip and $dir/velmora-setup.exe"
fi
