#!/usr/bin/env bash
# Lines of the tests against lines of the program: tests/ (without the fuzz
# corpus and data files) as a share of src/, per layer and in all. Fails when
# the share passes the limit (35 %), so that the suite stays lean as code is
# added: new code brings its tests within the share.
#
#   scripts/test-share.sh [--limit PERCENT]
set -euo pipefail
cd "$(dirname "$0")/.."
limit=35
[ "${1:-}" = "--limit" ] && limit=$2

count() { # files from standard input, NUL-separated
  xargs -0 -r cat | wc -l
}
files() { # tracked and untracked (not ignored) files below $1
  git ls-files -z --cached --others --exclude-standard -- "$1" |
    { grep -z -v -E '/(corpus|data)/' || true; } |
    while IFS= read -r -d '' f; do [ -f "$f" ] && printf '%s\0' "$f"; done
}

printf '%-10s %7s %7s %6s\n' layer src tests share
for dir in src/*/; do
  layer=$(basename "$dir")
  s=$(files "src/$layer" | count)
  t=0
  [ -d "tests/$layer" ] && t=$(files "tests/$layer" | count)
  printf '%-10s %7d %7d %5d%%\n' "$layer" "$s" "$t" $((100 * t / (s > 0 ? s : 1)))
done
src=$(files src | count)
tests=$(files tests | count)
share=$((100 * tests / src))
printf '%-10s %7d %7d %5d%%\n' all "$src" "$tests" "$share"
if [ "$share" -gt "$limit" ]; then
  echo "test-share: tests are ${share}% of src/, above ${limit}%"
  exit 1
fi
echo "test-share: tests are ${share}% of src/ (limit ${limit}%)"
