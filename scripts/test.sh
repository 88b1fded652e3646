#!/usr/bin/env bash
# Sets up, builds and runs every test: once in the normal build, then the
# real serial drivers in a virtual machine (scripts/test-vm.sh), once under
# AddressSanitizer and UndefinedBehaviorSanitizer; and the dialog front end's
# unit tests (its worker and window threads) under ThreadSanitizer; then the
# Debian package, installed and run; then a short run of the libFuzzer targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh windows

scripts/build.sh build
(cd build && ctest --output-on-failure -j "$(nproc)")

# The programs of the normal build on ftdi_sio and the 8250 driver, in QEMU.
scripts/test-vm.sh build

scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=address,undefined
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$(nproc)")

# The Windows programs, cross-built, under Wine (scripts/test-windows.sh).
scripts/test-windows.sh

# ThreadSanitizer: only the front end's unit tests, built alone to keep CI
# short. The end-to-end test is left out: under a real X server Qt's own
# event-reader thread, which the sanitizer cannot see into, dominates it.
if [ -x build/bin/velmora ]; then
  ui_tests=(ui_percent_progress_ctrl_test ui_core_test ui_update_progress_dialog_test
    ui_port_dialog_test)
  cmake -S . -B build-tsan -G Ninja -DVELMORA_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
    -DVELMORA_SANITIZE=thread >/dev/null
  cmake --build build-tsan -j "$(nproc)" --target "${ui_tests[@]}"
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/../ui/tsan-qt.supp" \
    ctest --output-on-failure -j "$(nproc)" -L ui -E ui_velmora_e2e_test)
fi

# The Debian package from the normal build, installed and run.
if [ -x build/bin/velmora ]; then
  scripts/test-deb.sh build
fi

# The libFuzzer targets, briefly (scripts/fuzz.sh SECONDS runs them longer).
scripts/fuzz.sh 20
