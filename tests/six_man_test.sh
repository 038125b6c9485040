#!/usr/bin/env bash
# bench/six_man.sh on KQKR, its sub-endgame built by the script: the timed
# build's table, then a second build killed in pass 0 and in the iteration,
# resumed and found identical. Again on the same directory: without --kill it
# refuses; with --kill against a reference changed in one byte (checksums
# renewed) the check fails and names the file.
#
#   tests/six_man_test.sh ZOK
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
six_man() { bash "$here/bench/six_man.sh" --zok "$1" --threads 1 --endgame KQKR "${@:2}" "$work/d" 2>&1; }
fail() { printf '%s\n%s\n' "$1" "$out"; exit 1; }

out=$(six_man "$1" --kill) || fail "exit status $?"
n='[0-9]+\.[0-9]'
for line in "initial \(-1, 0\) +$n +$n +$n" "iteration \(1\.\.71\) +$n +$n +$n" \
    "final \(900-902\) +$n +$n +$n" "total +$n +$n +$n" "peak memory MB +$n" "peak work dir MB +$n" \
    "log +Maxes: +0 Error .* Write" \
    "white to move +523989 +2621440 +0\.1999 +69" "black to move +428864 +2621440 +0\.1636 +70" \
    "zok -verify KQKR +$n +$n +0  KQKR: every value agrees with its successors" \
    "kill 1 \(initial passes\): killed in pass 0 \(exit status 137\), resumed" \
    "kill 2 \(iteration\): killed in pass [0-9]+ \(exit status 137\), resumed" "resume: identical"; do
  grep -qxE -- "$line" <<<"$out" || fail "no line: $line"
done
[ ! -e "$work/d/KQKR.kill" ] || fail "the scratch directory is left"

out=$(six_man "$1") && fail "a second timing was not refused"
[ "$out" = "six_man: $work/d already holds a build of KQKR; to time a new one remove it:
  (cd $work/d && rm -rf KQKR KQKR.LO? KQKR.out KQKR___W.* KQKR___B.*)" ] || fail "refusal"

cd "$work/d"
printf x | dd of=KQKR___B.J00 bs=1 seek=100 conv=notrunc 2>/dev/null
sha256sum KQKR___B.JIX KQKR___B.J00 >KQKR___B.SHA256
out=$(six_man "$1" --kill) && fail "a changed byte went unnoticed"
grep -qxF "resume: differs: KQKR___B.J00 (kept in $work/d/KQKR.kill)" <<<"$out" || fail "difference"
echo "six_man timed, killed, resumed and compared KQKR"
