#!/usr/bin/env bash
# Times the full verification of an endgame whose databases (and those of
# its sub-endgames) lie in DIR: wall time, CPU time, peak memory and the
# verification's own verdict.
#
#   bash bench/verify_bench.sh DIR [NAME] [ZOK]
#
# NAME defaults to KQRKR, ZOK to build/zok; ZOK_THREADS, when set, is
# passed on (the default is every core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: verify_bench.sh DIR [NAME] [ZOK]}
name=${2:-KQRKR}
zok=${3:-$root/build/zok}
zok=$(cd "$(dirname "$zok")" && pwd)/$(basename "$zok")
[ -x /usr/bin/time ] || { echo "verify_bench: /usr/bin/time is needed" >&2; exit 1; }
cd "$dir"
out=$(mktemp)
stats=$(mktemp)
trap 'rm -f "$out" "$stats"' EXIT
status=0
/usr/bin/time -f '%e %U %S %M' -o "$stats" "$zok" -verify "$name" </dev/null >"$out" || status=$?
# The figures are the last line (a signal's note may come before them).
read -r wall user sys peak_kb < <(tail -n 1 "$stats")
printf '%-7s %9s %9s %9s %8s  %s\n' endgame wall_s cpu_s peak_MB threads verdict
printf '%-7s %9.1f %9.1f %9.0f %8s  %s\n' "$name" "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN{print u + s}')" \
  "$(awk -v k="$peak_kb" 'BEGIN{print k / 1024}')" "${ZOK_THREADS:-$(nproc)}" "$(tr '\r' '\n' <"$out" | grep -v '^ *$' | tail -n 1)"
exit $status
