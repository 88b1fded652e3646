#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each one in turn, on one core.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#     each target for SECONDS (default 20; CI runs this). New inputs go to a
#     scratch corpus (listed first, so libFuzzer writes there) that is deleted
#     afterwards; the committed seeds in fuzz/corpus/<target>/ are only read.
#
#   scripts/fuzz.sh --long [RUNS] [TARGET...]
#     the long mode: each target for RUNS inputs (default ten million: a few
#     minutes for each reader, half an hour for the others; fuzz/README.md
#     has the rates), without a time limit. Its corpus is kept in build-fuzz/corpus/<target>/, so that a
#     long run goes on from where the last one ended; the committed seeds are
#     read as well.
#
# Either way the script fails when any target finds a crash, a leak or a
# time-out; the input that did it is kept in build-fuzz/artifacts/, the log in
# build-fuzz/fuzz-logs/. Each target's last line of statistics is printed
# (inputs run, and exec/s: inputs a second).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
long=false
if [ "${1:-}" = --long ]; then
  long=true
  shift
  runs=10000000
  if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    runs=$1
    shift
  fi
else
  seconds="${1:-20}"
  shift || true
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reply_reader_fuzzer sentence_reader_fuzzer arguments_fuzzer transfer_fuzzer)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELMORA_FUZZ=ON \
  -DVELMORA_SANITIZE=address,undefined -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON -DVELMORA_WERROR=ON \
  >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

scratch="$(mktemp -d /tmp/velmora-fuzz-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
artifacts="$root/build-fuzz/artifacts"
logs="$root/build-fuzz/fuzz-logs"
mkdir -p "$artifacts" "$logs"

failed=()
for t in "${targets[@]}"; do
  options=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$t-")
  [ -f "fuzz/$t.dict" ] && options+=("-dict=$root/fuzz/$t.dict")
  # The readers' state (a two-letter window, eight value bytes, 200 characters
  # of free text, a 99-character sentence) is reached in far fewer bytes; a
  # longer input only costs more per run.
  case "$t" in reply_reader_fuzzer | sentence_reader_fuzzer) options+=(-max_len=512) ;; esac
  if $long; then
    corpus="$root/build-fuzz/corpus/$t"
    options+=(-runs="$runs")
    echo "fuzz: $t for $runs inputs (corpus $corpus)"
  else
    corpus="$scratch/$t"
    options+=(-max_total_time="$seconds")
    echo "fuzz: $t for ${seconds}s"
  fi
  mkdir -p "$corpus"
  # Absolute paths throughout: arguments_fuzzer works from its own directory.
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$root/build-fuzz/bin/$t" "${options[@]}" "$corpus" "$root/fuzz/corpus/$t" \
    >"$logs/$t.log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$logs/$t.log" | tail -1 || true
  else
    failed+=("$t")
    tail -n 60 "$logs/$t.log"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]} (inputs in $artifacts, logs in $logs)" >&2
  exit 1
fi
echo "fuzz: all targets clean"
