#!/usr/bin/env bash
# The whole test suite, warnings as errors: the unit tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, the check of the sources' layout and of the tests' share
# of the code, the fuzz targets for a bounded time, a Slurm submission on a
# one-node cluster started for it, then every test (whole database builds
# included) on the release build, whose summary closes the output. Exits
# non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

echo "== release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOK_WERROR=ON >/dev/null
cmake --build build -j "$jobs"

echo "== sanitizer build and unit tests"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOK_SANITIZE=ON -DZOK_WERROR=ON -DZOK_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE slow

echo "== ThreadSanitizer build and threaded tests"
# Only the programs the threaded tests run (the builds use this tree's zok).
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOK_TSAN=ON -DZOK_WERROR=ON \
  -DZOK_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target zok test_platform test_builder test_probe test_commands
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded

echo "== the sources' layout and the tests' share of the code"
bash scripts/format.sh --check
bash scripts/test-share.sh

echo "== fuzz targets"
bash scripts/fuzz.sh

echo "== Slurm submission"
bash scripts/slurm-test.sh

echo "== all tests on the release build"
ctest --test-dir build --output-on-failure -j "$jobs"
