#!/usr/bin/env bash
# The screenshots of velmora.exe under Wine for the README: runs the
# end-to-end test's cases with the driver capturing each window as it meets
# it, in a throwaway Wine prefix with the test's two ports registered, in a
# Wine virtual desktop (which draws the windows' frames itself) on a private
# Xvfb, at 100 % and at 150 % (LogPixels 96 and 144), and writes the PNGs to
# DIR (default docs/) as windows-*.png and windows-*-150.png. Not part of
# CI; re-run it after a change to the dialogs. Builds what it needs; wants
# fonts-wine.
#   scripts/windows-screenshots.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-docs}
dpkg-query -W -f='${Status}' fonts-wine 2>/dev/null | grep -q 'install ok installed' ||
  { echo "windows-screenshots: apt-get install fonts-wine first (the frames' glyphs)" >&2; exit 1; }

VELMORA_WIN_TARGETS="velmora velmora_driver register_com_port" scripts/build-windows.sh build-win \
  >/dev/null
cmake --build build -j "$(nproc)" --target velmora_wine_e2e_test velmora-sim >/dev/null

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
export VELMORA_WINE=$wine WINEDEBUG=-all DISPLAY= WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/velmora-wine-XXXXXX)
shots=$(mktemp -d /tmp/velmora-shots-XXXXXX)
xvfb_pid=""
cleanup() {
  "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$WINEPREFIX" "$shots"
}
trap cleanup EXIT
"$(dirname "$wine")/wineserver" -p >/dev/null 2>&1
"$wine" wineboot -i >/dev/null 2>&1
"$wine" build-win/bin/register_com_port.exe "USB Serial Port (COM5)" "Modem (V.92) (COM8)" >/dev/null
# Wine's own fonts, which this Wine does not find where fonts-wine puts them:
# Marlett draws the frames' buttons, Tahoma the boxes' texts.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# The virtual desktop, made by the first program run under the X server.
"$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d velmora /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v velmora /d 1024x768 /f >/dev/null 2>&1
exec {xvfb_out}< <(exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 20 -u "$xvfb_out" display || { echo "windows-screenshots: Xvfb did not start" >&2; exit 1; }

mkdir -p "$out"
for scale in 96: 144:-150; do
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${scale%%:*}" /f \
    >/dev/null 2>&1
  DISPLAY=:$display VELMORA_WIN_BIN="$root/build-win/bin" VELMORA_SHOTS="$shots" \
    build/bin/velmora_wine_e2e_test --gtest_brief=1
  for name in port-dialog progress-window update-complete update-not-complete stop-question; do
    png="$out/windows-$name${scale#*:}.png"
    python3 scripts/bmp-to-png.py "$shots/$name.bmp" "$png"
    echo "windows-screenshots: $png"
  done
done
