#!/usr/bin/env bash
# Builds KQKR and the five-man KQRKR with their prerequisites from scratch and
# reports, for each build: wall time, CPU time, peak memory, the largest disk
# use of the work directory while it ran, and the database sizes.
#
#   bash bench/build_bench.sh [ZOK] [DIR]
#
# ZOK defaults to build/zok, DIR to a fresh temporary directory; ENDGAMES
# (a list in build order) replaces the default list.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
zok=${1:-$root/build/zok}
zok=$(cd "$(dirname "$zok")" && pwd)/$(basename "$zok")
dir=${2:-$(mktemp -d /tmp/zok-bench-XXXXXX)}
mkdir -p "$dir"
cd "$dir"
if [ ! -x /usr/bin/time ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time </dev/null
fi

printf '%-7s %9s %9s %9s %10s %12s %12s\n' endgame wall_s cpu_s peak_MB work_MB white_bytes black_bytes
for eg in ${ENDGAMES:-KQK KRK KQKR KRKR KQRK KQRKR}; do
  peak_file=$(mktemp)
  echo 0 >"$peak_file"
  # Sample the work directory's disk use while the build runs.
  (
    peak=0
    while sleep 0.2; do
      [ -d "$eg" ] || continue
      kb=$(du -sk "$eg" 2>/dev/null | cut -f1)
      if [ "${kb:-0}" -gt "$peak" ]; then peak=$kb; echo "$peak" >"$peak_file"; fi
    done
  ) &
  sampler=$!
  /usr/bin/time -f '%e %U %S %M' -o time.txt "$zok" -b "$eg" >"$eg.out" 2>&1 || {
    kill $sampler; echo "build of $eg failed:"; tail -5 "$eg.out"; exit 1; }
  kill $sampler 2>/dev/null || true
  wait $sampler 2>/dev/null || true
  read -r wall user sys rss <time.txt
  sizes=$(grep '^Time' "$eg.LOF" | head -1 | awk '{print $(NF-1), $NF}')
  awk -v eg="$eg" -v wall="$wall" -v u="$user" -v s="$sys" -v rss="$rss" \
    -v work="$(cat "$peak_file")" -v sizes="$sizes" 'BEGIN {
      split(sizes, z, " ");
      printf "%-7s %9.1f %9.1f %9.1f %10.1f %12s %12s\n", eg, wall, u + s, rss / 1024, work / 1024, z[1], z[2]
    }'
  rm -f "$peak_file"
done
echo "databases and logs in $dir"
