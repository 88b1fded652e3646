#!/usr/bin/env bash
# Sets up, builds, and programs the simulated receiver: velmora-sim on a
# pseudo-terminal with its normal firmware at 9600 bit/s, sample images
# written with fwp through the simulator's COM name, then the simulator's
# flash checked against the images.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build

work=$(mktemp -d /tmp/velmora-demo-XXXXXX)
export VELMORA_PORTS=$work/ports
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

build/bin/velmora-samples "$work"
build/bin/velmora-sim --com 200 --firmware-baud 9600 --flash-out "$work/flash.bin" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
echo "velmora-sim: a receiver on $(head -n 1 "$work/sim.out"), as COM200"
echo

set -x
build/bin/fwp -uart COM200 -boot "$work/boot.bin" -almanac "$work/almanac.bin" \
  -app "$work/app.bin" -usr "$work/usr.bin" -ni "$work/ni.bin" -nd "$work/nd.bin" </dev/null \
  && status=0 || status=$?
{ set +x; } 2>/dev/null
echo "fwp exit status: $status (2: every image written)"

kill "$sim_pid"
wait "$sim_pid" || true
sim_pid=""

echo
echo "The simulated flash against the images:"
failed=0
check() {  # file address
  local size
  size=$(stat -c %s "$work/$1")
  if cmp -s -n "$size" -i "0:$(($2))" "$work/$1" "$work/flash.bin"; then
    printf '  %-12s %6d bytes at 0x%08X  OK\n' "$1" "$size" "$(($2))"
  else
    printf '  %-12s %6d bytes at 0x%08X  DIFFERS\n' "$1" "$size" "$(($2))"
    failed=1
  fi
}
check boot.bin 0x00000000
check almanac.bin 0x00008000
check app.bin 0x00010000
check usr.bin 0x00080000
check ni.bin 0x000A0000
check nd.bin 0x000DF490
[ "$status" -eq 2 ] && [ "$failed" -eq 0 ]
