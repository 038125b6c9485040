#!/usr/bin/env bash
# Submits a small endgame tree with zok-build --slurm to a one-node Slurm
# cluster started here (munged, slurmctld and slurmd, all in a temporary
# directory and stopped on exit), and compares its databases with those of a
# one-at-a-time build. When Slurm cannot run on this machine the test says why
# and passes as skipped. Needs the release build (build/zok) and root.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
zok=$root/build/zok

skip() {
  echo "slurm test skipped: $*"
  exit 0
}
fail() {
  echo "slurm test FAILED: $*"
  for f in "$tmp"/*.log; do [ -f "$f" ] && { echo "== $f"; tail -n 15 "$f"; }; done
  exit 1
}

[ -x "$zok" ] || { echo "slurm test: no $zok (build first)"; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "needs root to install and run the Slurm daemons"
if ! command -v slurmctld >/dev/null || ! command -v slurmd >/dev/null ||
   ! command -v munged >/dev/null || ! command -v sbatch >/dev/null; then
  echo "installing slurm-wlm and munge"
  { timeout 300 apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive timeout 600 apt-get install -y -qq slurm-wlm munge; } </dev/null >/dev/null 2>&1 ||
    skip "apt-get could not install slurm-wlm and munge"
fi

tmp=$(mktemp -d /tmp/zok-slurm.XXXXXX)
pids=()
cleanup() {
  local p
  # The cluster is this script's own: whatever is still queued goes.
  [ ${#pids[@]} -gt 1 ] && timeout 10 scancel --user=root >/dev/null 2>&1
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do timeout 10 tail --pid="$p" -f /dev/null 2>/dev/null; done
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/munge" "$tmp/ctld" "$tmp/spool"
chmod 700 "$tmp/munge"

# munged with a fresh key and its own socket.
dd if=/dev/urandom of="$tmp/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$tmp/munge/munge.key"
sock=$tmp/munge/munge.socket
munged --foreground --force --key-file="$tmp/munge/munge.key" --socket="$sock" \
  --pid-file="$tmp/munge/munged.pid" --seed-file="$tmp/munge/seed" \
  --log-file="$tmp/munged.log" </dev/null >>"$tmp/munged.log" 2>&1 &
pids+=($!)

host=$(hostname -s)
cpus=$(nproc)
mem=$(awk '/^MemTotal/ {print int($2 / 1024 * 0.9)}' /proc/meminfo)
port=$(( 20000 + RANDOM % 20000 ))
export SLURM_CONF=$tmp/slurm.conf
cat >"$SLURM_CONF" <<CONF
ClusterName=zoktest
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$port
SlurmdPort=$(( port + 1 ))
AuthType=auth/munge
AuthInfo=socket=$sock
CredType=cred/munge
StateSaveLocation=$tmp/ctld
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
MinJobAge=600
NodeName=$host CPUs=$cpus RealMemory=$mem State=UNKNOWN
PartitionName=zoktest Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF

for i in $(seq 50); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || skip "munged did not start: $(tail -n 3 "$tmp/munged.log" | tr '\n' ' ')"
slurmctld -D -i </dev/null >>"$tmp/slurmctld.log" 2>&1 &
pids+=($!)
slurmd -D </dev/null >>"$tmp/slurmd.log" 2>&1 &
pids+=($!)
state=
for i in $(seq 60); do
  state=$(timeout 5 sinfo -h -n "$host" -o %t 2>/dev/null)
  [ "$state" = idle ] && break
  sleep 0.5
done
[ "$state" = idle ] || skip "the Slurm daemons did not start (node state '$state'): $(tail -n 2 "$tmp/slurmctld.log" "$tmp/slurmd.log" | tr '\n' ' ')"

# The tree: KQK and KRK independent, then KQRK.
seq_out=$(timeout 120 scripts/zok-build --zok "$zok" "$tmp/seq" KQRK 2>&1) || fail "sequential build: $seq_out"
out=$(timeout 60 scripts/zok-build --zok "$zok" --slurm "$tmp/par" KQRK 2>&1) || fail "submission: $out"
echo "$out"
[ "$(grep -c ' submitted ' <<<"$out")" -eq 3 ] || fail "expected three jobs submitted"
# A failing job: a file where KRK's work directory should go. KQRK, waiting
# for it, must be cancelled rather than wait forever.
mkdir -p "$tmp/bad" && echo x >"$tmp/bad/KRK"
bad=$(timeout 60 scripts/zok-build --zok "$zok" --slurm "$tmp/bad" KQRK 2>&1) || fail "submission: $bad"
# Submitted again at once: every job is still queued, or already finished.
again=$(timeout 60 scripts/zok-build --zok "$zok" --slurm "$tmp/par" KQRK 2>&1) || fail "second submission: $again"
echo "$again"
grep -q ' submitted ' <<<"$again" && fail "jobs submitted twice: $again"
for i in $(seq 180); do
  [ -z "$(timeout 5 squeue -h -n zok-KQK,zok-KRK,zok-KQRK 2>/dev/null)" ] && break
  sleep 0.5
done
[ -z "$(timeout 5 squeue -h -n zok-KQK,zok-KRK,zok-KQRK 2>/dev/null)" ] || fail "jobs still queued after 90 s"
for eg in KQK KRK KQRK; do [ -s "$tmp/par/$eg.slurm.log" ] || fail "no log $eg.slurm.log"; done
grep -q 'ERROR: ExeBuild: mkdir fail \[KRK\]: File exists' "$tmp/bad/KRK.slurm.log" || fail "no failure in the log of KRK"
[ -f "$tmp/bad/KQRK.LOF" ] && fail "KQRK ran after KRK failed"

# The creation time (bytes 24 to 27 of an index file) may differ.
strip() { head -c 24 "$1"; tail -c +29 "$1"; }
n=0
for f in "$tmp"/seq/*.J??; do
  g=$tmp/par/$(basename "$f")
  [ -f "$g" ] || fail "missing $(basename "$f")"
  if [[ $f == *.JIX ]]; then
    cmp -s <(strip "$f") <(strip "$g") || fail "$(basename "$f") differs"
  else
    cmp -s "$f" "$g" || fail "$(basename "$f") differs"
  fi
  n=$((n + 1))
done
[ "$n" -eq 12 ] || fail "expected 12 database files, found $n"
again=$(timeout 60 scripts/zok-build --zok "$zok" --slurm "$tmp/par" KQRK 2>&1) || fail "third submission: $again"
[ "$(grep -c ' exists' <<<"$again")" -eq 3 ] || fail "finished endgames not skipped: $again"
echo "slurm test passed: $n database files identical"
