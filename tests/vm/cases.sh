# The virtual machine's cases, sourced by its init (busybox sh).
#
# The guest has two USB adapters behind ftdi_sio, ttyUSB0 (COM33, serial
# number VELMORA-A, QEMU device usb0) and ttyUSB1 (COM34, VELMORA-B, usb1),
# and two 16550s, ttyS0 (COM1) and ttyS1 (COM2). Behind them on the host are
# the simulators A, B, C and D: firmware at 9600, 38400, 9600 and 9600; C
# answers PF for the ODO_DATA image, D for the almanac.
#
# Each case prints one line, "@vm case NAME ok DETAIL" or "@vm case NAME FAIL
# WHAT WENT WRONG", and for every image a run reported written, "@vm wrote
# SIM SLOT FILE", from which the host checks the simulators' flash. "@vm ask
# unplug|replug usb0|usb1" asks the host to pull an adapter out or put it back;
# the host answers on the console once it has.
#
#   ports    velmora-ports lists COM1, COM2, COM33 and COM34 as the drivers
#            present them, with each adapter's serial number in its record
#   rates    fwp through both adapters at the six programming rates, the
#            firmware at 9600 (A) and 38400 (B), every slot on each; the
#            adapter's latency timer is 1 ms (low-latency mode) while fwp holds
#            the port and back at its own value after it
#   uart     fwp through a 16550 (ttyS1) at 115200
#   unplug   the adapter pulled out during detection and during the App image:
#            "Device no response!", status 0, within 2 s; after the replug the
#            next run completes
#   busy     a second fwp on a port in use is refused, its holder named; the
#            port's settings (stty -a, and the low-latency flag) are as before
#            after a completed, a stopped (SIGINT), a failed and a killed
#            (second SIGINT) run
#   line     velmora-line on both adapters and a 16550 at once, with its log;
#            in station mode an unplug and replug is taken as a new receiver

images=/vm/images
problems=

# Milliseconds since boot.
ms() {
  read -r up _ </proc/uptime
  up=${up%.*}${up#*.}
  echo $((up * 10))
}

fail() {
  problems="$problems; $*"
}

# A run's whole output on the console, for the log: "@vm out NAME: LINE".
show() {
  tr '\b' '\n' <"/tmp/$1.out" | grep -v '^ *$' | sed "s/^/@vm out $1: /"
}

# The last line of a run's output, for a failure's report.
last_line() {
  tr '\r\b' '\n\n' <"$1" | grep -v '^ *$' | tail -n 1
}

# The simulator behind a COM name.
sim_of() {
  case $1 in
    COM33) echo A ;; COM34) echo B ;; COM1) echo C ;; COM2) echo D ;;
  esac
}

# The adapter's latency timer as its driver reports it (1 in low-latency
# mode). Read by the shell itself: a process started 20 times a second is
# load the emulated machine feels.
latency() {
  value=none
  { read -r value <"/sys/bus/usb-serial/devices/$1/latency_timer"; } 2>/dev/null
  echo "$value"
}

# Up to SECONDS for FILE to hold TEXT.
wait_text() {
  file=$1 text=$2 limit=$(($3 * 20))
  while ! grep -q -- "$text" "$file" 2>/dev/null; do
    limit=$((limit - 1))
    [ $limit -gt 0 ] || return 1
    sleep 0.05
  done
}

# Asks the host to unplug or replug an adapter and waits for its answer.
ask() {
  echo "@vm ask $1 $2"
  answer=
  read -r -t 15 answer || true
  [ "$answer" = "@host ${1}ged $2" ] || fail "$1 $2: the host answered \"$answer\""
}

# fwp_start OUTFILE ARGS...: runs fwp in the background; $pid is its process.
fwp_start() {
  out=$1
  shift
  fwp "$@" >"$out" 2>&1 </dev/null &
  pid=$!
}

# fwp_wait [TTY]: waits for it; $status is its exit status. With TTY (a ttyUSB
# name) it also reads the adapter's latency timer while fwp runs, and keeps
# each value it saw once in $seen_latency.
fwp_wait() {
  seen_latency=
  if [ -n "${1:-}" ]; then
    while kill -0 "$pid" 2>/dev/null; do
      value=none
      { read -r value <"/sys/bus/usb-serial/devices/$1/latency_timer"; } 2>/dev/null
      case " $seen_latency " in *" $value "*) ;; *) seen_latency="$seen_latency $value" ;; esac
      sleep 0.1
    done
  fi
  wait "$pid"
  status=$?
}

# A run that must complete: fwp -uart PORT -baud RATE, then SLOT FILE pairs.
# On success prints the "@vm wrote" lines; WHAT names the run in failures.
run_complete() {
  what=$1 port=$2 rate=$3
  shift 3
  set -- "$@"
  args=
  slots=
  while [ $# -gt 0 ]; do
    args="$args -$1 $images/$2"
    slots="$slots $1=$2"
    shift 2
  done
  # shellcheck disable=SC2086
  fwp_start "/tmp/$what.out" -uart "$port" -baud "$rate" $args
  fwp_wait "${watch:-}"
  if [ "$status" != 2 ]; then
    fail "$what: status $status: $(last_line "/tmp/$what.out")"
    show "$what"
    return 1
  fi
  grep -q "mode $rate bps" "/tmp/$what.out" || fail "$what: not at $rate bps"
  for pair in $slots; do
    echo "@vm wrote $(sim_of "$port") ${pair%%=*} ${pair#*=}"
  done
  return 0
}

# ---------------------------------------------------------------------------

case_ports() {
  velmora-ports >/tmp/ports.out 2>&1 || fail "velmora-ports: status $?"
  tab=$(printf '\t')
  printf '%s\n' \
    "COM1${tab}/dev/ttyS0${tab}ttyS0, 16550A (COM1)${tab}-${tab}ttyS0, 16550A" \
    "COM2${tab}/dev/ttyS1${tab}ttyS1, 16550A (COM2)${tab}-${tab}ttyS1, 16550A" \
    "COM33${tab}/dev/ttyUSB0${tab}QEMU USB SERIAL (COM33)${tab}usb${tab}QEMU USB SERIAL" \
    "COM34${tab}/dev/ttyUSB1${tab}QEMU USB SERIAL (COM34)${tab}usb${tab}QEMU USB SERIAL" \
    >/tmp/ports.want
  cmp -s /tmp/ports.out /tmp/ports.want ||
    fail "velmora-ports printed: $(tr '\t\n' '|;' </tmp/ports.out)"
  vm-probe serials >/tmp/serials.out 2>&1
  printf '%s\n' "COM1${tab}/dev/ttyS0${tab}-" "COM2${tab}/dev/ttyS1${tab}-" \
    "COM33${tab}/dev/ttyUSB0${tab}VELMORA-A" "COM34${tab}/dev/ttyUSB1${tab}VELMORA-B" \
    >/tmp/serials.want
  cmp -s /tmp/serials.out /tmp/serials.want ||
    fail "the records' serial numbers: $(tr '\t\n' '|;' </tmp/serials.out)"
  detail="4 ports"
}

# Every slot through one adapter, one programming rate after the other.
rates_on() {
  port=$1 variant=$2 firmware=$3 watch=$4
  set -- "boot almanac" "app usr" "odo ni" "nd n0i" "n0d n2i n2d" "n10i n10d"
  for rate in 9600 19200 38400 57600 115200 230400; do
    pairs=
    for slot in $1; do pairs="$pairs $slot $slot-$variant.bin"; done
    shift
    before=$(latency "$watch")
    # shellcheck disable=SC2086
    if run_complete "rates-$port-$rate" "$port" "$rate" $pairs; then
      grep -q "Found GPS $firmware bps" "/tmp/rates-$port-$rate.out" ||
        fail "rates-$port-$rate: firmware not found at $firmware bps"
    fi
    after=$(latency "$watch")
    [ "$before" = "$after" ] && [ "$before" != 1 ] ||
      fail "rates-$port-$rate: latency timer $before before the run, $after after"
    case "$seen_latency " in
      *" 1 "*) ;;
      *) fail "rates-$port-$rate: latency timer during the run:$seen_latency" ;;
    esac
  done
  echo "$problems" >"/tmp/rates-$port.problems"
}

case_rates() {
  (problems= && rates_on COM33 1 9600 ttyUSB0) &
  a=$!
  (problems= && rates_on COM34 2 38400 ttyUSB1) &
  b=$!
  wait $a
  wait $b
  problems="$problems$(cat /tmp/rates-COM33.problems /tmp/rates-COM34.problems | tr -d '\n')"
  detail="6 rates x 2 adapters, 13 slots each; latency timer 1 ms during runs"
}

case_uart() {
  watch=
  run_complete uart COM2 115200 boot boot-2.bin ni ni-2.bin &&
    grep -q "Found GPS 9600 bps" /tmp/uart.out || fail "uart: firmware not found at 9600 bps"
  detail="ttyS1 at 115200"
}

# Pulls usb1 out once fwp has the port (the adapter's latency timer reads 1)
# and its output holds TEXT; fwp must end within 2 s with "Device no
# response!" and status 0. Then puts it back.
unplug_during() {
  what=$1 text=$2
  shift 2
  fwp_start "/tmp/$what.out" "$@"
  i=0
  until [ "$(latency ttyUSB1)" = 1 ]; do
    i=$((i + 1))
    [ $i -lt 400 ] || break
    sleep 0.05
  done
  wait_text "/tmp/$what.out" "$text" 20 || fail "$what: never saw \"$text\""
  t0=$(ms)
  echo "@vm ask unplug usb1"
  fwp_wait
  t1=$(ms)
  read -r -t 15 answer || answer=
  [ "$answer" = "@host unplugged usb1" ] || fail "$what: the host answered \"$answer\""
  [ "$status" = 0 ] || fail "$what: status $status"
  grep -q "Device no response!" "/tmp/$what.out" ||
    fail "$what: no \"Device no response!\": $(last_line "/tmp/$what.out")"
  [ $((t1 - t0)) -le 2000 ] || fail "$what: fwp ended $((t1 - t0)) ms after the unplug"
  case $problems in *"$what:"*) show "$what" ;; esac
  times="$times $((t1 - t0))"
  ask replug usb1
  i=0
  until [ -e /dev/ttyUSB1 ] && [ "$(latency ttyUSB1)" != none ]; do
    i=$((i + 1))
    [ $i -lt 200 ] || { fail "$what: ttyUSB1 did not come back"; return; }
    sleep 0.05
  done
  # A new device: raw again, as init left the first (see init).
  stty -F /dev/ttyUSB1 raw -echo 2>/dev/null
}

case_unplug() {
  watch=
  times=
  # Detection: the sync strings are going out (the firmware is found only
  # after 700 ms of them).
  unplug_during unplug-detect "Flash Programmer" -uart COM34 -baud 115200 -app "$images/app-1.bin"
  run_complete unplug-after-detect COM34 115200 app app-1.bin
  # The App image: its second block request has been answered.
  unplug_during unplug-app "00012000" -uart COM34 -baud 230400 -app "$images/app-big.bin"
  run_complete unplug-after-app COM34 230400 app app-2.bin
  detail="ended${times} ms after the unplug; replugged runs completed"
}

# The port's settings as stty and the serial driver's flags show them.
settings() {
  stty -a -F "/dev/$1" 2>/dev/null
  cat "/sys/class/tty/$1/flags" 2>/dev/null
  latency "$1"
}

case_busy() {
  before=$(settings ttyS0)
  # The holder: a run long enough (2 KiB at 9600) for the second to find it.
  fwp_start /tmp/busy-holder.out -uart COM1 -baud 9600 -usr "$images/usr-1.bin"
  holder=$pid
  wait_text /tmp/busy-holder.out " mode 9600 bps" 20 || fail "busy: the holder found no receiver"
  fwp -uart COM1 -baud 9600 -app "$images/app-1.bin" >/tmp/busy-second.out 2>&1 </dev/null
  second=$?
  [ "$second" = 0 ] || fail "busy: the second fwp's status was $second"
  [ "$second" = 2 ] && echo "@vm wrote C app app-1.bin"
  grep -q "Can not open COM1 port!" /tmp/busy-second.out ||
    fail "busy: the second fwp said: $(last_line /tmp/busy-second.out)"
  grep -q "held by $holder (fwp)" /tmp/busy-second.out ||
    fail "busy: holder $holder not named: $(tr '\n' ';' </tmp/busy-second.out)"
  fwp_wait
  if [ "$status" = 2 ]; then echo "@vm wrote C usr usr-1.bin"; else fail "busy: holder status $status"; fi
  case $problems in *busy:*) show busy-holder; show busy-second ;; esac
  [ "$(settings ttyS0)" = "$before" ] || fail "busy: ttyS0's settings changed by a completed run"

  # Stopped: SIGINT during the App image, once its second request has come.
  # What fwp had written ahead (at most a request's blocks) waits in the
  # simulator's terminal after fwp has gone, with no UART to hold it, and
  # crosses at the line's speed before anything of the next run: at 115200
  # that is over in well under a second.
  fwp_start /tmp/busy-stop.out -uart COM1 -baud 115200 -app "$images/app-big.bin"
  wait_text /tmp/busy-stop.out "00011000" 20 || fail "busy: the stopped run never reached its App image"
  kill -INT "$pid"
  fwp_wait
  [ "$status" = 0 ] || fail "busy: stopped run's status $status"
  grep -q "stopped by SIGINT" /tmp/busy-stop.out || fail "busy: $(last_line /tmp/busy-stop.out)"
  [ "$(settings ttyS0)" = "$before" ] || fail "busy: ttyS0's settings changed by a stopped run"
  case $problems in *"stopped run"*) show busy-stop ;; esac

  # Failed: the receiver answers PF for ODO_DATA.
  sleep 1
  fwp -uart COM1 -baud 115200 -odo "$images/odo-1.bin" >/tmp/busy-failed.out 2>&1 </dev/null
  status=$?
  [ "$status" = 3 ] || fail "busy: failed run's status $status: $(last_line /tmp/busy-failed.out)"
  [ "$(settings ttyS0)" = "$before" ] || fail "busy: ttyS0's settings changed by a failed run"
  case $problems in *"failed run"*) show busy-failed ;; esac

  # Killed: a second SIGINT ends fwp at once, through the signal handler.
  before_usb=$(settings ttyUSB0)
  fwp_start /tmp/busy-killed.out -uart COM33 -baud 115200 -app "$images/app-big.bin"
  wait_text /tmp/busy-killed.out "00011000" 20 || fail "busy: the killed run never reached its App image"
  [ "$(latency ttyUSB0)" = 1 ] || fail "busy: the latency timer was $(latency ttyUSB0) during the run"
  kill -INT "$pid"
  kill -INT "$pid"
  fwp_wait
  [ "$(settings ttyUSB0)" = "$before_usb" ] ||
    fail "busy: ttyUSB0's settings changed by a killed run (latency timer $(latency ttyUSB0))"
  case $problems in *"killed run"*) show busy-killed ;; esac
  detail="holder named; ttyS0 unchanged after completed, stopped, failed runs; ttyUSB0 after a killed one"
}

case_line() {
  velmora-line --ports COM33,COM34,COM1 --log /tmp/line.log -- -baud 115200 \
    -usr "$images/usr-2.bin" >/tmp/line.out 2>&1 </dev/null
  status=$?
  [ "$status" = 0 ] || fail "line: status $status: $(last_line /tmp/line.out)"
  for record in "COM33 /dev/ttyUSB0 VELMORA-A A" "COM34 /dev/ttyUSB1 VELMORA-B B" \
    "COM1 /dev/ttyS0  C"; do
    set -- $record
    if [ $# = 3 ]; then set -- "$1" "$2" "" "$3"; fi
    grep "\"port\":\"$1\"" /tmp/line.log >/tmp/line.record
    grep -q "\"device\":\"$2\",\"adapter_serial\":\"$3\",\"receiver\":1," /tmp/line.record &&
      grep -q '"outcome":"written"}],"result":"completed","code":2,' /tmp/line.record ||
      fail "line: $1's record: $(cat /tmp/line.record)"
    grep -q '"result":"completed"' /tmp/line.record && echo "@vm wrote $4 usr usr-2.bin"
  done
  [ "$(wc -l </tmp/line.log)" = 3 ] || fail "line: $(wc -l </tmp/line.log) records, not 3"

  # Station mode: programmed, unplugged, replugged, programmed again.
  velmora-line --repeat --quiet 2 --ports COM34 --log /tmp/station.log -- -baud 115200 \
    -n2i "$images/n2i-1.bin" >/tmp/station.out 2>&1 </dev/null &
  station=$!
  wait_text /tmp/station.log '"receiver":1' 30 || fail "station: no first receiver"
  ask unplug usb1
  sleep 0.5
  ask replug usb1
  wait_text /tmp/station.log '"receiver":2' 30 || fail "station: the replugged adapter was not taken as a new receiver"
  kill -INT "$station"
  wait "$station"
  n=$(grep -c '"port":"COM34","device":"/dev/ttyUSB1","adapter_serial":"VELMORA-B".*"result":"completed"' /tmp/station.log)
  [ "$n" = 2 ] || fail "station: $n completed records: $(cat /tmp/station.log)"
  [ "$n" -ge 1 ] && echo "@vm wrote B n2i n2i-1.bin"
  detail="3 ports at once; station mode took the replug as receiver 2"
}

# ---------------------------------------------------------------------------

run_case() {
  problems=
  detail=
  started=$(ms)
  "case_$1"
  took=$(($(ms) - started))
  if [ -z "$problems" ]; then
    echo "@vm case $1 ok ${took} ms: $detail"
  else
    echo "@vm case $1 FAIL ${took} ms: ${problems#; }"
  fi
}

run_cases() {
  for name in $(echo "$1" | tr ',' ' '); do
    run_case "$name"
  done
}
