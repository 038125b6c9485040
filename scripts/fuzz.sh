#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for a bounded time
# (FUZZ_SECONDS, default 15), starting from the checked-in seed corpus. The
# index file target reads beside its input the chunk file of KQK with White
# to move, built here with the release build's zok when there is one.
# Exits non-zero when a target finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-15}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DZOK_FUZZ=ON -DZOK_SANITIZE=ON -DZOK_WERROR=ON -DZOK_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
targets=(fuzz_block_decode fuzz_block_roundtrip fuzz_fen fuzz_index_file)
cmake --build build-fuzz -j 2 --target "${targets[@]}"
kqk=build-fuzz/kqk
if [ ! -f "$kqk/KQK____W.J00" ] && [ -x build/zok ]; then
  rm -rf "$kqk" && mkdir -p "$kqk"
  (cd "$kqk" && SOURCE_DATE_EPOCH=0 ../../build/zok -b KQK >/dev/null)
fi
for target in "${targets[@]}"; do
  echo "== $target (${seconds} s)"
  # New inputs go to a scratch directory, so the checked-in corpus stays as it is.
  scratch=$(mktemp -d)
  files=$(mktemp -d)
  trap 'rm -rf "$scratch" "$files"' EXIT
  [ -f "$kqk/KQK____W.J00" ] && cp "$kqk/KQK____W.J00" "$files/"
  seeds=tests/fuzz/corpus/$target
  log=build-fuzz/$target.log
  set +e
  ZOK_FUZZ_DIR=$files ./build-fuzz/$target -max_total_time="$seconds" -max_len=32770 -timeout=20 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/ "$scratch" "$seeds" >"$log" 2>&1
  status=$?
  set -e
  grep -E '^(#[0-9]+ +DONE|Done|SUMMARY|stat::number_of_executed_units|==[0-9]+==ERROR)' "$log" || true
  rm -rf "$scratch" "$files"
  trap - EXIT
  if [ "$status" -ne 0 ]; then
    tail -30 "$log"
    echo "$target failed (status $status); the crashing input is in build-fuzz/"
    exit 1
  fi
done
