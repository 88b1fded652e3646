#!/usr/bin/env bash
# The Debian package: makes it from a built tree with cpack, checks that it
# depends on Debian's Qt 6 runtime packages, installs it with apt-get (which
# brings those in), runs the installed fwp, velmora-ports and velmora-sim,
# and purges the package again unless it was installed before. Needs root
# (or sudo).
#   scripts/test-deb.sh [BUILD_DIR]    (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

rm -f "$build"/velmora_*.deb
(cd "$build" && cpack -G DEB >"$build/test-deb-cpack.log" 2>&1) ||
  { cat "$build/test-deb-cpack.log"; exit 1; }
deb=$(ls "$build"/velmora_*.deb)
echo "test-deb: $(basename "$deb")"

fail() {
  echo "test-deb: $*" >&2
  exit 1
}
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
  grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "no dependency on $p: $depends"
done

installed_before=0
dpkg-query -W -f='${Status}' velmora 2>/dev/null | grep -q 'install ok installed' &&
  installed_before=1
[ "$installed_before" -eq 1 ] ||
  trap '$sudo dpkg --purge velmora >/dev/null' EXIT
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" \
  >"$build/test-deb-apt.log" 2>&1 || { cat "$build/test-deb-apt.log"; fail "apt-get install failed"; }

help=$(/usr/bin/fwp --help) || fail "fwp --help: exit status $?"
[ "$(head -n 1 <<<"$help")" = "Flash Programmer V1.0.3.2" ] || fail "fwp --help printed: $help"
grep -qx "  -app          : App code" <<<"$help" || fail "fwp --help printed: $help"
/usr/bin/velmora-ports >/dev/null || fail "velmora-ports: exit status $?"
/usr/bin/velmora-sim --help >/dev/null || fail "velmora-sim --help: exit status $?"
! ldd /usr/bin/velmora | grep -q 'not found' || fail "velmora: $(ldd /usr/bin/velmora | grep 'not found')"
[ -f /usr/share/doc/velmora/examples/velmora.desktop ] || fail "no example desktop entry"
[ ! -e /usr/share/applications/velmora.desktop ] || fail "a menu entry was installed"
echo "test-deb: installed and ran fwp, velmora-ports and velmora-sim"
