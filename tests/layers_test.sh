#!/usr/bin/env bash
# The layer check passes on the tree as it is and fails, naming the file, on
# a copy with one include planted that points up.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/check-layers.sh" "$here/src"
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp -r "$here/src" "$copy/src"
echo '#include "builder/values.h"' >>"$copy/src/board/board.h"
if out=$(bash "$here/scripts/check-layers.sh" "$copy/src"); then
  echo "the planted upward include was not found"
  exit 1
fi
expected="check-layers: board/board.h:$(wc -l <"$copy/src/board/board.h"): board includes builder, which is above it"
[ "$out" = "$expected" ] || { printf 'got:      %s\nexpected: %s\n' "$out" "$expected"; exit 1; }
echo "planted include found"
