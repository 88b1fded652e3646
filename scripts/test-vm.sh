#!/usr/bin/env bash
# The real serial drivers under test: Velmora's programs in a virtual machine
# (Debian's kernel under QEMU) with two emulated USB-serial adapters (ftdi_sio)
# and two 16550 UARTs (8250), each joined to a velmora-sim of its own.
#
#   scripts/test-vm.sh [BUILD_DIR]                  every case (BUILD_DIR: build)
#   scripts/test-vm.sh --case NAME[,NAME] [BUILD_DIR]   some cases (tests/vm/cases.sh)
#   scripts/test-vm.sh --shell [BUILD_DIR]           a shell in the guest instead
#   VELMORA_VM_VERBOSE=1 ...                         the guest's console as it runs
#   VELMORA_VM_ACCEL=tcg|kvm ...                     the accelerator (default: KVM when
#                                                    /dev/kvm is writable and the CPU
#                                                    has vmx or svm, else TCG)
#
# The guest is built from Debian packages only: the kernel and its modules out
# of the linux-image package that linux-image-amd64 depends on (dpkg-deb -x of
# the .deb that scripts/setup.sh vm downloads to /var/cache/velmora-vm),
# busybox-static, and the build's fwp, velmora-ports, velmora-line and
# vm-probe with the shared libraries they use. The guest's init
# (tests/vm/init) runs the cases of tests/vm/cases.sh and prints one line per
# case; tests/vm/vm_host.py starts QEMU, answers the guest's requests to
# unplug and replug an adapter through QMP, and prints the case lines. Then
# this script stops the simulators and checks that each one's flash holds
# exactly the images the guest says it wrote there.
#
# Everything the run makes is under BUILD_DIR/vm: the kernel (extracted once
# per kernel package), the initramfs, the images, the simulators' logs and
# flash, console.log (the whole console, with times).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

cases=ports,rates,uart,unplug,busy,line
shell=
while [ $# -gt 0 ]; do
  case $1 in
    --case) cases=$2; shift 2 ;;
    --shell) shell=1; shift ;;
    -*) echo "test-vm: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
build=$(cd "${1:-build}" && pwd)
bin=$build/bin
work=$build/vm
cache=/var/cache/velmora-vm
started=$(date +%s%N)

for program in fwp velmora-ports velmora-line velmora-sim vm-probe; do
  [ -x "$bin/$program" ] || { echo "test-vm: $bin/$program is missing; build first" >&2; exit 1; }
done
for tool in qemu-system-x86_64 python3 xz; do
  command -v $tool >/dev/null || { echo "test-vm: $tool is missing: run scripts/setup.sh vm" >&2; exit 1; }
done
[ -x /bin/busybox ] || { echo "test-vm: busybox is missing: run scripts/setup.sh vm" >&2; exit 1; }
deb=$(ls "$cache"/linux-image-*-amd64_*.deb 2>/dev/null | sort -V | tail -n 1)
[ -n "$deb" ] || { echo "test-vm: no kernel package in $cache: run scripts/setup.sh vm" >&2; exit 1; }

# The kernel, once per package: its modules, and the kernel itself
# uncompressed (an ELF that QEMU starts directly, so the guest spends no time
# unpacking it, which takes 10 s and more under TCG).
kernel=$work/kernel/$(basename "$deb" .deb)
if [ ! -f "$kernel/done" ]; then
  rm -rf "$work/kernel"
  mkdir -p "$kernel"
  dpkg-deb -x "$deb" "$kernel/tree"
  vmlinuz=$(ls "$kernel"/tree/boot/vmlinuz-*)
  python3 - "$vmlinuz" "$kernel/vmlinux" <<'EOF'
import lzma, sys
data = open(sys.argv[1], "rb").read()
start = data.find(b"\xfd7zXZ\x00")
elf = lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(data[start:])
assert elf[:4] == b"\x7fELF", "no ELF kernel in " + sys.argv[1]
open(sys.argv[2], "wb").write(elf)
EOF
  touch "$kernel/done"
fi
modules_dir=$(ls -d "$kernel"/tree/lib/modules/*)/kernel

# The initramfs.
rm -rf "$work/root" "$work/run"
mkdir -p "$work/root/vm/bin" "$work/root/vm/modules.d" "$work/root/vm/images" "$work/root/bin" \
  "$work/run"
cp /bin/busybox "$work/root/bin/busybox"
install -m 755 tests/vm/init "$work/root/init"
cp tests/vm/cases.sh "$work/root/vm/cases.sh"
modules="virtio/virtio_ring virtio/virtio virtio/virtio_pci_modern_dev
  virtio/virtio_pci_legacy_dev virtio/virtio_pci char/virtio_console
  usb/common/usb-common usb/core/usbcore usb/host/xhci-hcd usb/host/xhci-pci
  usb/serial/usbserial usb/serial/ftdi_sio"
for module in $modules; do
  cp "$modules_dir/drivers/$module.ko" "$work/root/vm/modules.d/"
  basename "$module" >>"$work/root/vm/modules"
done
for program in fwp velmora-ports velmora-line vm-probe; do
  cp "$bin/$program" "$work/root/vm/bin/"
  # Each shared library at the path the loader looks for it.
  ldd "$bin/$program" | awk '/=> \//{print $3} /^\t\/.*ld-linux/{print $1}' |
    while read -r library; do
      mkdir -p "$work/root$(dirname "$library")"
      cp -n "$library" "$work/root$library"
    done
done
python3 tests/vm/images.py "$work/root/vm/images"
(cd "$work/root" && find . | busybox cpio -o -H newc -R 0:0 2>/dev/null | gzip -1 >"$work/initrd.gz")

# The accelerator. /dev/kvm alone is not enough: in a virtual machine without
# nested virtualisation it can be there and writable while a guest started
# with it hangs. Under TCG the guest's clock counts instructions while it
# runs (-icount, 8 ns each) and follows the host's only while it sleeps:
# with the host's clock throughout, a guest that the host held off the
# processor (other work, slow emulation) found its time-outs gone when it ran
# again. fwp's 10 ms between "EX" and closing the port then came out as no
# time at all, and the port's old speed reached the simulator with "EX";
# 100 ms sync windows closed before the guest had read the answer.
accel=${VELMORA_VM_ACCEL:-}
if [ -z "$accel" ]; then
  accel=tcg
  if [ -w /dev/kvm ] && grep -qwE 'vmx|svm' /proc/cpuinfo; then accel=kvm; fi
fi
clock=()
[ "$accel" = tcg ] && clock=(-icount shift=3,sleep=on)

# The simulators: A and B behind the USB adapters (firmware at 9600 and
# 38400), C and D behind the 16550s ttyS0 and ttyS1. C answers PF for the
# ODO_DATA image (the failed run of the busy case), D for the almanac.
sims=(A B C D)
declare -A sim_args=(
  [A]="--firmware-baud 9600"
  [B]="--firmware-baud 38400"
  [C]="--firmware-baud 9600 --fail-address 0x90000"
  [D]="--firmware-baud 9600 --fail-address 0x8000"
)
declare -A sim_pid sim_pty
stop_sims() {
  for s in "${sims[@]}"; do
    if [ -n "${sim_pid[$s]:-}" ]; then
      kill -TERM "${sim_pid[$s]}" 2>/dev/null || true
      wait "${sim_pid[$s]}" 2>/dev/null || true
      sim_pid[$s]=
    fi
  done
}
trap stop_sims EXIT
# A simulator stamps the bytes it reads with the line speed of that moment, so
# one held off the processor for longer than a programmer waits between its
# last bytes and a speed change (fwp closes 10 ms after "EX", and the port's
# own speed comes back) hands the receiver those bytes at the wrong speed. The
# simulators therefore run at the lowest real-time priority (they sleep
# between turns of a millisecond), and QEMU ahead of ordinary processes, where
# the user may set them so.
sim_priority=()
if chrt -r 1 true 2>/dev/null; then sim_priority=(chrt -r 1); fi
qemu_priority=()
if nice -n -10 true 2>/dev/null && [ "$(nice -n -10 nice)" -lt "$(nice)" ]; then
  qemu_priority=(nice -n -10)
fi
for s in "${sims[@]}"; do
  # shellcheck disable=SC2086
  "${sim_priority[@]}" "$bin/velmora-sim" --no-alias ${sim_args[$s]} \
    --flash-out "$work/run/flash-$s.bin" --log "$work/run/sim-$s.log" \
    --io-log "$work/run/sim-$s.io" >"$work/run/sim-$s.out" 2>"$work/run/sim-$s.err" &
  sim_pid[$s]=$!
done
for s in "${sims[@]}"; do
  for _ in $(seq 100); do
    sim_pty[$s]=$(head -n 1 "$work/run/sim-$s.out" 2>/dev/null || true)
    [ -n "${sim_pty[$s]}" ] && break
    sleep 0.05
  done
  [ -n "${sim_pty[$s]}" ] || { echo "test-vm: simulator $s did not start" >&2; exit 1; }
done

qemu=("${qemu_priority[@]}" qemu-system-x86_64 -accel "$accel" "${clock[@]}" -m 256M -smp 1 -nodefaults -no-user-config
  -display none -no-reboot
  -kernel "$kernel/vmlinux" -initrd "$work/initrd.gz"
  -device virtio-serial-pci -chardev stdio,id=console,signal=off -device virtconsole,chardev=console
  -device qemu-xhci,id=xhci
  -chardev "serial,id=usb0,path=${sim_pty[A]}" -chardev "serial,id=usb1,path=${sim_pty[B]}"
  -chardev "serial,id=com1,path=${sim_pty[C]}" -chardev "serial,id=com2,path=${sim_pty[D]}"
  -serial chardev:com1 -serial chardev:com2)
append="quiet console=hvc0 panic=-1 velmora.cases=$cases"
usb=(usb-serial,id=usb0,chardev=usb0,serial=VELMORA-A usb-serial,id=usb1,chardev=usb1,serial=VELMORA-B)

if [ -n "$shell" ]; then
  "${qemu[@]}" -append "quiet console=hvc0 panic=-1 velmora.shell=1" -device "${usb[0]}" \
    -device "${usb[1]}"
  exit 0
fi

echo "test-vm: $accel, cases $cases${sim_priority:+; simulators real-time}${qemu_priority:+, QEMU at nice -10}"
summary=$work/run/summary
status=0
python3 tests/vm/vm_host.py --qmp "$work/run/qmp.sock" --log "$work/run/console.log" \
  --timeout 220 --expect "$cases" --device "${usb[0]}" --device "${usb[1]}" \
  ${VELMORA_VM_VERBOSE:+--verbose} -- "${qemu[@]}" -append "$append" \
  -qmp "unix:$work/run/qmp.sock,server=on,wait=off" | tee "$summary" || status=1
stop_sims

# Each simulator's flash against what the guest wrote there.
python3 tests/vm/check_flash.py "$work/run/console.log" "$work/root/vm/images" \
  A="$work/run/flash-A.bin" B="$work/run/flash-B.bin" C="$work/run/flash-C.bin" \
  D="$work/run/flash-D.bin" | tee -a "$summary" || status=1

passed=$(grep -c '^vm: [^ ]* ok' "$summary" || true)
failed=$(grep -c '^vm: [^ ]* FAIL' "$summary" || true)
if [ "$failed" != 0 ] || [ "$status" != 0 ]; then
  status=1
  # What the failing runs printed, and the simulators' last words.
  grep -h '@vm out' "$work/run/console.log" | tail -n 60 || true
  for s in "${sims[@]}"; do tail -n 3 "$work/run/sim-$s.err" | sed "s/^/sim $s: /"; done
fi
elapsed=$((($(date +%s%N) - started) / 100000000))
echo "test-vm: $((elapsed / 10)).$((elapsed % 10)) s in all; logs in $work/run"
echo "vm: $passed passed, $failed failed"
exit $status
