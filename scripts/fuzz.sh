#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for SECONDS (default 20). New inputs go to a
# scratch corpus (listed first, so libFuzzer writes there); the committed seeds
# in fuzz/corpus/<target>/ are only read. Fails when any target finds a crash,
# a leak or a time-out; the input that did it is kept in build-fuzz/artifacts/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
seconds="${1:-20}"
shift || true
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
  mkdir -p "$scratch/$t"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=("-dict=$root/fuzz/$t.dict")
  echo "fuzz: $t for ${seconds}s"
  # Absolute paths throughout: arguments_fuzzer works from its own directory.
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$root/build-fuzz/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "${dict[@]}" -artifact_prefix="$artifacts/$t-" \
    "$scratch/$t" "$root/fuzz/corpus/$t" >"$logs/$t.log" 2>&1; then
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
