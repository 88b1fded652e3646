#!/usr/bin/env bash
# The Windows programs under Wine: cross-builds fwp.exe and the Windows unit
# tests (build-win), then runs, in one throwaway Wine prefix,
#   - the engine's unit tests (engine_test.exe),
#   - the Win32 serial backend against two COM ports joined like a null-modem
#     cable, and port discovery (serial_test.exe; scripts/null-modem.py holds
#     the two terminals),
#   - the installer (velmora-setup.exe): installed silently, the installed
#     programs run once, uninstalled silently,
#   - the integration suite's core cases with the real fwp.exe against the
#     real velmora-sim (build/bin/integration_test, VELMORA_WINE_FWP),
#   - the dialog's shared core (ui_core_test.exe),
#   - two COM ports registered in the prefix as their drivers would
#     (register_com_port.exe), and velmora-ports.exe's list of them,
#   - under a private X server: the Win32 face's tests (ui_win32_test.exe;
#     its resources' at 100, 125, 150 and 200 %) and velmora.exe end to end against velmora-sim (velmora_driver.exe
#     works it; build/bin/velmora_wine_e2e_test).
# Expects the Linux build in build (scripts/test.sh makes it first).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS

VELMORA_WIN_TARGETS="fwp velmora velmora-ports engine_test serial_test ui_core_test ui_win32_test
  velmora_driver register_com_port" scripts/build-windows.sh build-win
cmake --build build -j "$(nproc)" --target integration_test fwp velmora-sim velmora_wine_e2e_test
echo "test-windows: built in $((SECONDS - start)) s"

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
# UTF-8 on the Unix side, whatever the caller's locale: Wine reads the
# programs' arguments (paths in Greek among them) in it; Windows' side then
# has the ANSI code page 1252.
export VELMORA_WINE=$wine WINEDEBUG=-all DISPLAY= LC_ALL=C.UTF-8
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/velmora-wine-XXXXXX)
modem_pid="" xvfb_pid=""
cleanup() {
  [ -n "$modem_pid" ] && kill "$modem_pid" 2>/dev/null
  WINEPREFIX=$WINEPREFIX "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
# One Wine server for the whole run, rather than one per program started. Its
# own output (a dump of its objects when it is ended) is of no use here.
"$(dirname "$wine")/wineserver" -p >/dev/null 2>&1
"$wine" wineboot -i >/dev/null 2>&1
echo "test-windows: Wine prefix ready after $((SECONDS - start)) s"

failed=()
"$wine" build-win/bin/engine_test.exe --gtest_brief=1 || failed+=(engine_test.exe)

# Two terminals joined; COM5 and COM6 are their ends.
exec {modem_out}< <(exec python3 scripts/null-modem.py </dev/zero)
modem_pid=$!
read -r -u "$modem_out" end_a
read -r -u "$modem_out" end_b
ln -sfn "$end_a" "$WINEPREFIX/dosdevices/com5"
ln -sfn "$end_b" "$WINEPREFIX/dosdevices/com6"

# The installer, silently (/S), into Program Files\Velmora: exactly the staged
# files and the uninstaller, byte for byte, and the Add/Remove Programs entry.
# The installed fwp.exe prints its help as the Linux fwp does (with CR LF) and
# exits with 0; the installed velmora-ports.exe finds no port (Wine lists no
# serial-port interfaces, COM5 and COM6 above notwithstanding). Then the
# uninstaller, silently: it runs on from a copy of itself, so the folder is
# waited for (at most 30 s) to go, and the entry with it. Before
# serial_test.exe, after which the installer takes 10 s longer to run.
installer_test() {
  local dir="$WINEPREFIX/drive_c/Program Files/Velmora" out="$WINEPREFIX/velmora-out"
  local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora' status f
  "$wine" build-win/velmora-setup.exe /S || { echo "installer: exit status $?"; return 1; }
  diff <( (ls build-win/velmora-windows; echo uninstall.exe) | sort) <(ls "$dir" | sort) ||
    { echo "installer: other files installed"; return 1; }
  for f in build-win/velmora-windows/*; do cmp "$f" "$dir/${f##*/}" || return 1; done
  "$wine" reg query "$key" /v UninstallString >/dev/null 2>&1 || { echo "installer: no entry"; return 1; }

  status=0
  "$wine" 'C:\Program Files\Velmora\fwp.exe' -h </dev/null >"$out" || status=$?
  [ "$status" -eq 0 ] || { echo "installed fwp.exe -h: exit status $status"; return 1; }
  build/bin/fwp -h | sed 's/$/\r/' | cmp - "$out" || { echo "installed fwp.exe -h: other text"; return 1; }
  "$wine" 'C:\Program Files\Velmora\velmora-ports.exe' >"$out" 2>"$out.err" ||
    { echo "installed velmora-ports.exe: exit status $?"; return 1; }
  [ ! -s "$out" ] && printf 'velmora-ports: no serial ports found\r\n' | cmp - "$out.err" ||
    { echo "installed velmora-ports.exe: other output"; cat "$out" "$out.err"; return 1; }

  "$wine" 'C:\Program Files\Velmora\uninstall.exe' /S || { echo "uninstaller: exit status $?"; return 1; }
  for _ in {1..300}; do [ -e "$dir" ] || break; sleep 0.1; done
  [ ! -e "$dir" ] || { echo "uninstaller: left $(ls "$dir")"; return 1; }
  ! "$wine" reg query "$key" >/dev/null 2>&1 || { echo "uninstaller: the entry stays"; return 1; }
}
installer_start=$SECONDS
installer_test || failed+=(velmora-setup.exe)
echo "test-windows: installer in $((SECONDS - installer_start)) s"

VELMORA_TEST_COM_A=COM5 VELMORA_TEST_COM_B=COM6 "$wine" build-win/bin/serial_test.exe \
  --gtest_brief=1 || failed+=(serial_test.exe)

# The core cases: the command line's texts, the loader at each rate, sentences at 9600 and 38400 with
# the switch, each slot, all slots, a write-protected boot and a failed
# image, a silent line and a port that is not there, a line that goes away,
# Ctrl-C (Wine hands SIGINT to the program as one). Not the port another program holds: Wine
# does not keep a device's opens exclusive.
core='SimTest.CommandLineTextsArePrintedExactly:*LoaderRate.*:*SentenceRate.*At9600To115200:*SentenceRate.*At38400To*'
core+=':*EachSlot.*:FwpSimTest.AllThirteenSlotsInOneRunLandByteForByte'
core+=':FwpSimTest.SentencesOnlyAt230400AreNotFound:FwpSimTest.ReadyReceiverWithoutImagesIsResultOne'
core+=':FwpSimTest.SilentLineAndMissingPortFindNoDevice:FwpSimTest.ImagePathsInAnyLettersAndOfAnyLengthOpen'
core+=':*FaultTest.LosesNothing/WriteProtectedBoot:*FaultTest.LosesNothing/FailedImageStopsTheRun'
core+=':*FaultTest.LosesNothing/TheLineGone*:SimTest.BootOnALineThatWentAwayIsNoResponse'
core+=':*SignalTest.*/Interrupt*'
VELMORA_WINE_FWP="$root/build-win/bin/fwp.exe" build/bin/integration_test --gtest_brief=1 \
  --gtest_filter="$core" || failed+=(integration_test)

"$wine" build-win/bin/ui_core_test.exe --gtest_brief=1 || failed+=(ui_core_test.exe)

# The real port list: two ports registered through the device setup calls,
# as their drivers' installation would. velmora-ports.exe names each by the
# port dialog's rule: COM5 for the first; the second's brackets hold no COM
# name, so the dialog leaves it out ("-"). The dialog's end-to-end test below
# picks COM5 from the list; the simulator is COM5 there.
ports_test() {
  local out="$WINEPREFIX/velmora-ports-out"
  "$wine" build-win/bin/register_com_port.exe "USB Serial Port (COM5)" "Modem (V.92) (COM8)" \
    >/dev/null || return 1
  "$wine" build-win/bin/velmora-ports.exe >"$out" || { echo "velmora-ports.exe: exit status $?"; return 1; }
  printf 'COM5\tUSB Serial Port (COM5)\t-\tUSB Serial Port\r\n-\tModem (V.92) (COM8)\t-\tModem\r\n' |
    cmp - <(cut -f1,3- "$out") || { echo "velmora-ports.exe: other ports"; cat "$out"; return 1; }
}
ports_test || failed+=(velmora-ports.exe)

# The dialog, last, under one X server of its own (Xvfb picks a free display
# and names it when it is ready), in a Wine virtual desktop of its own. The
# programs above ran without a display: the desktop they made keeps the
# display driver its first program found (none) until a few seconds after its
# last program ends, and a window made on it fails. A desktop of another name
# is made afresh by the first program run here, with this display; being
# virtual, it also draws the windows' frames itself and hides no window
# through a window manager, which has none here.
dialog_start=$SECONDS
exec {xvfb_out}< <(exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
if read -r -t 20 -u "$xvfb_out" display; then
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d velmora /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v velmora /d 1024x768 /f >/dev/null 2>&1
  # The face's tests at 100 %; its dialogs and bar also at 125, 150 and
  # 200 % (Wine's LogPixels, which each program reads as it starts). Then
  # 100 % again for the end-to-end cases.
  set_dpi() {
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
      >/dev/null 2>&1
  }
  for dpi in 96 120 144 192; do
    set_dpi $dpi
    filter='Scale*'
    [ $dpi = 96 ] && filter='*'
    DISPLAY=:$display VELMORA_TEST_DPI=$dpi "$wine" build-win/bin/ui_win32_test.exe \
      --gtest_brief=1 --gtest_filter="$filter" || failed+=("ui_win32_test.exe@$dpi")
  done
  set_dpi 96
  DISPLAY=:$display VELMORA_WIN_BIN="$root/build-win/bin" build/bin/velmora_wine_e2e_test \
    --gtest_brief=1 || failed+=(velmora_wine_e2e_test)
else
  echo "test-windows: Xvfb did not start" >&2
  failed+=(velmora_wine_e2e_test)
fi
echo "test-windows: the dialog in $((SECONDS - dialog_start)) s"

echo "test-windows: $((SECONDS - start)) s in all"
if [ ${#failed[@]} -gt 0 ]; then
  echo "test-windows: FAILED: ${failed[*]}" >&2
  exit 1
fi
