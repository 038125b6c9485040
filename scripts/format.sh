#!/usr/bin/env bash
# Lays out the C and C++ sources (src/, include/, tests/, bench/, examples/)
# as .clang-format says, in place; with --check, changes nothing, lists the
# files whose layout differs and exits 1 if there are any.
#
#   scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- src include tests bench examples | grep -E '\.(c|cpp|h)$')
if [ "${1:-}" = "--check" ]; then
  differ=0
  for f in "${files[@]}"; do
    if ! clang-format --style=file "$f" | cmp -s - "$f"; then
      echo "$f"
      differ=1
    fi
  done
  exit "$differ"
fi
clang-format --style=file -i "${files[@]}"
