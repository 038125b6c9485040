#!/usr/bin/env bash
# Times whole builds: wall time, CPU time (user + system) and peak memory of
# KQKR, KQRK, KRKR and KQRKR, each with its sub-endgames present, for
# ZOK_THREADS=1 and 2, and for a previous binary in the same run (the machine
# is shared, so absolute times drift; side by side they compare). Each figure
# is the best (lowest wall time) of RUNS builds.
#
#   bench/build_bench.sh [--runs N] [--work DIR] [--only NAMES] NEW_ZOK [PREVIOUS_ZOK]
#
# The previous binary is run with its default thread setting.
set -euo pipefail

runs=2
work=""
only="KQKR KQRK KRKR KQRKR"
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: build_bench.sh [--runs N] [--work DIR] [--only NAMES] NEW_ZOK [PREVIOUS_ZOK]" >&2
  exit 2
fi
new=$(realpath "$1")
old=${2:+$(realpath "$2")}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/base"

# The sub-endgames, built once with the new binary.
for name in KQK KRK KQKR KQRK KRKR; do
  if [ ! -f "$work/base/${name}$(printf '%*s' $((7 - ${#name})) '' | tr ' ' _)W.JIX" ]; then
    (cd "$work/base" && "$new" -b "$name" >/dev/null </dev/null)
  fi
done

# One timed build: prints "wall cpu peak_mb".
time_build() {
  local zok=$1 threads=$2 name=$3 dir="$work/run"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$work/base/"*.J* "$dir/"
  rm -f "$dir/${name}_"*
  (cd "$dir" && env ${threads:+ZOK_THREADS=$threads} /usr/bin/time -f "%e %U %S %M" -o time.txt \
     "$zok" -b "$name" >out.txt 2>&1 </dev/null) || { echo "build of $name failed" >&2; cat "$dir/out.txt" >&2; exit 1; }
  awk '{printf "%.2f %.2f %.1f\n", $1, $2 + $3, $4 / 1024}' "$dir/time.txt"
}

best_of() {
  local best="" line
  for _ in $(seq "$runs"); do
    line=$(time_build "$@")
    if [ -z "$best" ] || awk -v a="$line" -v b="$best" 'BEGIN{split(a,x," ");split(b,y," ");exit !(x[1]<y[1])}'; then
      best=$line
    fi
  done
  echo "$best"
}

printf "%-10s %-8s %-7s %9s %9s %9s\n" binary threads endgame wall_s cpu_s peak_MB
for name in $only; do
  if [ -n "$old" ]; then
    read -r w c m <<<"$(best_of "$old" "" "$name")"
    printf "%-10s %-8s %-7s %9s %9s %9s\n" previous default "$name" "$w" "$c" "$m"
  fi
  for threads in 1 2; do
    read -r w c m <<<"$(best_of "$new" "$threads" "$name")"
    printf "%-10s %-8s %-7s %9s %9s %9s\n" new "$threads" "$name" "$w" "$c" "$m"
  done
done
