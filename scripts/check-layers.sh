#!/usr/bin/env bash
# Each folder of src/ is one layer, and a layer includes only its own headers
# and those of the layers below it. Prints every include that points up (or
# into a folder that is no layer) and fails when there is one.
#
#   scripts/check-layers.sh [SRC_DIR]
set -euo pipefail
# Bottom to top. serve (the web explorer) stands on probe apart from the
# program's own stack: no other layer may include it.
layers=(platform jar support board index probe serve gamefiles builder commands app)
src=${1:-"$(dirname "$0")/../src"}

rank() {
  local i
  # The public header of the probing library (include/zok) counts as that layer.
  [ "$1" = zok ] && set -- probe
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

bad=0
for dir in "$src"/*/; do
  layer=$(basename "$dir")
  own=$(rank "$layer")
  if [ "$own" -lt 0 ]; then
    echo "check-layers: src/$layer is no layer (add it to the list in $0)"
    bad=1
    continue
  fi
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$text")
    [ "$target" = "$text" ] && continue  # a header of its own folder
    to=$(rank "$target")
    if [ "$target" = serve ] && [ "$layer" != serve ]; then
      echo "check-layers: ${file#"$src"/}:$line: $layer includes serve, which stands apart"
      bad=1
    elif [ "$to" -lt 0 ] || [ "$to" -gt "$own" ]; then
      echo "check-layers: ${file#"$src"/}:$line: $layer includes $target, which is above it"
      bad=1
    fi
  done < <(grep -n -H -E '^#include "' "$dir"*.h "$dir"*.cpp 2>/dev/null || true)
done
for file in "$src"/*.h "$src"/*.cpp; do
  [ -e "$file" ] || continue
  echo "check-layers: ${file#"$src"/} lies outside every layer"
  bad=1
done
[ $bad -eq 0 ] && echo "check-layers: ${#layers[@]} layers, no include points up"
exit $bad
