#!/usr/bin/env bash
# Times one big build, by default the six-man KQQKQQ, phase by phase, and
# optionally checks that a build killed twice and resumed ends in the same
# databases. Run with --help for what it does and prints.
set -euo pipefail

synopsis="usage: six_man.sh [--zok PATH] [--threads N] [--kill] [--no-verify] [--endgame NAME] DIR"
usage() {
  echo "$synopsis" >&2
  exit 2
}
help() {
  echo "$synopsis"
  cat <<'EOF'

Builds the sub-endgames of NAME (default KQQKQQ) in DIR with scripts/zok-build
(finished ones are kept), then builds NAME itself with `zok -b NAME` in DIR and
prints, from polling its RUN file and /proc about four times a second:
  wall and CPU time (user + system, all threads) of the initial passes (-1, 0),
  the iteration (1..N) and the final passes (900-902), and in total, next to
  the times of the build's own log (log_s: pass time, wall clock);
  peak memory (max RSS, from /usr/bin/time), the log's "Maxes:" line, and the
  peak size of the work directory DIR/NAME (du -sb, once a second);
  per side the database size (its index and chunk files), entries (from the
  index file: (blocks - 1) * 32768 + bytes of the last block, one value byte
  per entry), bytes per entry, and the longest mate in plies (the log's
  "Time ... Ply W Z" line);
  unless --no-verify: wall and CPU time, exit status and last line of
  `zok -verify NAME`.
A build of NAME already in DIR (databases, work directory or logs) is never
removed: the script refuses to time it again, naming the files to remove.

--kill: then builds NAME again in the scratch directory DIR/NAME.kill (hard
links to the sub-endgame databases), kills that build with SIGKILL twice (kill
1 during pass 0, kill 2 during the middle pass of the iteration; each moment
is taken from the timed build's log and the process is stopped first, so that
the kill lands in the pass aimed at), resumes it each time with the same
`zok -b NAME`, and compares both databases byte for byte (cmp) with DIR's,
all but each index file's creation time (bytes 25-28), which says when the
file was written. It prints "resume: identical" or the differing files. A
kill that misses its pass (a very short pass, or the build ended first) is
reported as "not done" and does not fail the run. When DIR already holds a
finished build of NAME whose files agree with their .SHA256 files, that build
is the reference and only the kill check runs (no timing, no verify). The
scratch directory is removed when the check passes.

--zok PATH     zok executable (default: build/zok of this checkout)
--threads N    ZOK_THREADS for every build and the verify (default: ZOK_THREADS,
               else all cores)
Exit status: 0 when every build, the verify and the resume check passed; 1 on
a failure; 2 on a usage error or a build of NAME already in DIR.
EOF
  exit 0
}

root=$(cd "$(dirname "$0")/.." && pwd)
zok="$root/build/zok"
name=KQQKQQ
kill_check=0
verify=1
while [ $# -gt 0 ]; do
  case "$1" in
    --zok) [ $# -ge 2 ] || usage; zok=$2; shift 2 ;;
    --threads)
      [ $# -ge 2 ] || usage
      case "$2" in
        [1-9]|[1-9][0-9]|[1-9][0-9][0-9]) export ZOK_THREADS=$2 ;;
        *) echo "six_man: --threads needs a number from 1 to 999" >&2; usage ;;
      esac
      shift 2 ;;
    --kill) kill_check=1; shift ;;
    --no-verify) verify=0; shift ;;
    --endgame) [ $# -ge 2 ] || usage; name=$2; shift 2 ;;
    -h|--help) help ;;
    -*) echo "six_man: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || usage
[ -x "$zok" ] || { echo "six_man: no zok executable at $zok" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "six_man: /usr/bin/time is needed (Debian package time)" >&2; exit 2; }
zok=$(cd "$(dirname "$zok")" && pwd)/$(basename "$zok")
name=${name^^}
threads=${ZOK_THREADS:-$(nproc)}
tick=$(getconf CLK_TCK)

# The database names of an endgame: the name padded with "_" to 7 characters.
dbname() {
  local n=$1
  while [ ${#n} -lt 7 ]; do n="${n}_"; done
  echo "$n"
}
db=$(dbname "$name")

# The tree in build order from zok-build (it also rejects a bad name); every
# endgame but the last is a sub-endgame.
order=$(bash "$root/scripts/zok-build" --dry-run --zok "$zok" "$1" "$name") || exit $?
mapfile -t subs < <(sed '$d' <<<"$order")
[ -d "$1" ] || mkdir -- "$1"
dir=$(cd "$1" && pwd)

now_us() { echo "${EPOCHREALTIME/./}"; }
# Seconds with one decimal from microseconds; "-" when unknown.
secs() { if [ -n "$1" ]; then awk -v u="$1" 'BEGIN {printf "%.1f", u / 1e6}'; else echo -; fi; }

# passdone of the RUN file $1 into $passdone (empty while there is none).
read_passdone() {
  local k v
  passdone=
  [ -f "$1" ] || return 0
  while read -r k v; do
    [ "$k" = passdone ] && passdone=$v
  done 2>/dev/null <"$1" || true
}

# utime + stime of process $1, all its threads, in microseconds into $cpu
# (unchanged once the process is gone).
read_cpu() {
  local s f
  read -r s 2>/dev/null <"/proc/$1/stat" || return 0
  read -ra f <<<"${s##*) }"
  cpu=$(( (f[11] + f[12]) * 1000000 / tick ))
}

# The child that /usr/bin/time ($1) started; empty if it has ended.
child_of() {
  local c=
  while [ -z "$c" ] && kill -0 "$1" 2>/dev/null; do
    read -r c _ 2>/dev/null <"/proc/$1/task/$1/children" || true
    [ -n "$c" ] || sleep 0.01
  done
  echo "$c"
}

# Per pass of the log $1 (the endgame's own lines, of the last build from
# pass -1 on; a resumed build continues the cumulative time of its RUN):
# "pass cumulative_s" with the cumulative time at the end of the pass.
log_passes() {
  awk -v n="$name" '
    { label = substr($0, 1, 7); sub(/ +$/, "", label) }
    label == n && substr($0, 9, 3) ~ /^-?[0-9]+$/ {
      p = substr($0, 9, 3) + 0
      if (p == -1 && k > 0 && order[k - 1] != -1) { delete cum; delete seen; k = 0 }
      split(substr($0, 12), f, " ")
      if (!(p in seen)) order[k++] = p
      seen[p] = 1
      cum[p] = f[1]
    }
    END { for (i = 0; i < k; i++) print order[i], cum[order[i]] }' "$1"
}

# Anything of a build of NAME in DIR.
traces=0
for f in "$dir/$name" "$dir/$name".LO[FGS] "$dir/$name.out" "$dir/$db"[WB].*; do
  [ -e "$f" ] && traces=1
done
reuse=0
if [ $traces -eq 1 ]; then
  finished=0
  if [ -f "$dir/${db}W.SHA256" ] && [ -f "$dir/${db}B.SHA256" ] &&
     (cd "$dir" && sha256sum -c --status "${db}W.SHA256" "${db}B.SHA256") 2>/dev/null; then
    read_passdone "$dir/$name/RUN"
    [ -z "$passdone" ] || [ "$passdone" = 902 ] && finished=1
  fi
  if [ $kill_check -eq 1 ] && [ $finished -eq 1 ]; then
    reuse=1
  else
    echo "six_man: $dir already holds a build of $name; to time a new one remove it:" >&2
    echo "  (cd $dir && rm -rf $name $name.LO? $name.out ${db}W.* ${db}B.*)" >&2
    exit 2
  fi
fi

# A build started in the background ignores the terminal's Ctrl+C, so an
# interrupted run ends the one it started itself.
zpid='' stats='' vout=''
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  [ -z "$zpid" ] || kill "$zpid" 2>/dev/null || true
  rm -f "$stats" "$vout"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits for the build process PID; when it failed, says WHAT with its exit
# status and the last lines of its console output OUT, and ends the run.
await_build() {
  local status=0
  wait "$1" || status=$?
  zpid=''
  [ $status -eq 0 ] && return 0
  echo "six_man: $2 (zok exit status $status):" >&2
  tail -n 3 "$3" | sed 's/^/  /' >&2
  exit 1
}

failed=0
echo "six_man: $name in $dir, zok $zok, threads $threads"
if [ ${#subs[@]} -gt 0 ]; then
  echo "sub-endgames (scripts/zok-build):"
  # Its table, without the -sum of the whole directory after it.
  bash "$root/scripts/zok-build" --zok "$zok" "$dir" "${subs[@]}" |
    awk '/^-+ ZOK / {skip = 1} !skip {print "  " $0}' || exit $?
fi

if [ $reuse -eq 0 ]; then
  stats=$(mktemp)
  t0=$(now_us)
  (cd "$dir" && exec /usr/bin/time -f '%e %U %S %M' -o "$stats" "$zok" -b "$name" </dev/null >"$name.out" 2>&1) &
  tpid=$!
  zpid=$(child_of "$tpid")
  cpu=0 last='' init_wall='' init_cpu='' iter_wall='' iter_cpu='' du_max=0 du_next=0
  while [ -n "$zpid" ] && kill -0 "$tpid" 2>/dev/null; do
    t=$(( $(now_us) - t0 ))
    read_cpu "$zpid"
    read_passdone "$dir/$name/RUN"
    if [ -n "$passdone" ] && [ "$passdone" != "$last" ]; then
      last=$passdone
      if [ "$passdone" -ge 0 ] && [ -z "$init_wall" ]; then init_wall=$t init_cpu=$cpu; fi
      if [ "$passdone" -ge 1 ] && [ "$passdone" -le 899 ]; then iter_wall=$t iter_cpu=$cpu; fi
    fi
    if [ "$t" -ge "$du_next" ] && [ -d "$dir/$name" ]; then
      size=$(du -sb "$dir/$name" 2>/dev/null | cut -f1) || size=0
      [ "${size:-0}" -gt "$du_max" ] && du_max=$size
      du_next=$(( t + 1000000 ))
    fi
    sleep 0.25
  done
  await_build "$tpid" "building $name failed" "$dir/$name.out"
  read -r wall user sys rss_kb < <(tail -n 1 "$stats")
  total_wall=$(awk -v w="$wall" 'BEGIN {printf "%.0f", w * 1e6}')
  total_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%.0f", (u + s) * 1e6}')
  # The log's view: cumulative pass time at the end of each phase.
  read -r log_init log_iter log_last < <(log_passes "$dir/$name.LOF" |
    awk '$1 <= 0 {i = $2} $1 >= 1 && $1 <= 899 {t = $2; l = $1} END {print i + 0, t + 0, l + 0}')
  read -r time_s ply_w ply_z < <(awk '/^Time/ {l = $2 " " $4 " " $5} END {print l}' "$dir/$name.LOF")
  diff_us() { if [ -n "$1" ] && [ -n "$2" ]; then echo $(( $1 - $2 )); fi; }

  printf '\n%-22s %9s %9s %9s\n' phase wall_s cpu_s log_s
  printf '%-22s %9s %9s %9.1f\n' "initial (-1, 0)" "$(secs "$init_wall")" "$(secs "$init_cpu")" "$log_init"
  printf '%-22s %9s %9s %9.1f\n' "iteration (1..$log_last)" "$(secs "$(diff_us "$iter_wall" "$init_wall")")" \
    "$(secs "$(diff_us "$iter_cpu" "$init_cpu")")" "$(awk -v a="$log_iter" -v b="$log_init" 'BEGIN {print a - b}')"
  printf '%-22s %9s %9s %9.1f\n' "final (900-902)" "$(secs "$(diff_us "$total_wall" "$iter_wall")")" \
    "$(secs "$(diff_us "$total_cpu" "$iter_cpu")")" "$(awk -v a="$time_s" -v b="$log_iter" 'BEGIN {print a - b}')"
  printf '%-22s %9s %9s %9.1f\n' total "$(secs "$total_wall")" "$(secs "$total_cpu")" "$time_s"
  printf '\n%-22s %9.1f\n' "peak memory MB" "$(awk -v k="$rss_kb" 'BEGIN {print k / 1024}')"
  printf '%-22s %9.1f\n' "peak work dir MB" "$(awk -v b="$du_max" 'BEGIN {print b / 1048576}')"
  printf '%-22s %s\n' "log" "$(grep '^Maxes:' "$dir/$name.LOF" | tail -n 1)"

  printf '\n%-22s %12s %12s %11s %11s\n' side db_bytes entries bytes/entry mate_plies
  for side in W B; do
    bytes=$(cd "$dir" && find . -maxdepth 1 -name "${db}$side.*" ! -name '*.SHA256' -printf '%s\n' |
      awk '{s += $1} END {print s + 0}')
    read -r blocks last_size < <(od -An -t d4 -j 4 -N 8 "$dir/${db}$side.JIX")
    entries=$(( blocks > 0 ? (blocks - 1) * 32768 + last_size : 0 ))
    if [ $side = W ]; then label="white to move" ply=$ply_w; else label="black to move" ply=$ply_z; fi
    printf '%-22s %12d %12d %11.4f %11s\n' "$label" "$bytes" "$entries" \
      "$(awk -v b="$bytes" -v e="$entries" 'BEGIN {print (e > 0 ? b / e : 0)}')" "$ply"
  done

  if [ $verify -eq 1 ]; then
    vout=$(mktemp)
    vstatus=0
    (cd "$dir" && /usr/bin/time -f '%e %U %S %M' -o "$stats" "$zok" -verify "$name" </dev/null >"$vout" 2>&1) || vstatus=$?
    read -r wall user sys _ < <(tail -n 1 "$stats")
    printf '\n%-22s %9s %9s %6s  %s\n' verify wall_s cpu_s status "last line"
    printf '%-22s %9.1f %9.1f %6d  %s\n' "zok -verify $name" "$wall" \
      "$(awk -v u="$user" -v s="$sys" 'BEGIN {print u + s}')" "$vstatus" \
      "$(tr '\r' '\n' <"$vout" | grep -v '^ *$' | tail -n 1)"
    [ $vstatus -eq 0 ] || failed=1
  fi
else
  echo "reference: the finished build of $name in $dir (it agrees with its .SHA256 files)"
fi

[ $kill_check -eq 1 ] || exit $failed

# The kill moments come from the reference build's log: its iteration's middle
# pass, and for each kill a wait of 30 % of the pass's time after the pass
# before it is recorded. Without a log each kill comes right after that record.
ref_last=899 mid=2 wait0=0 wait_mid=0 poll=0.2
if [ -f "$dir/$name.LOF" ]; then
  mapfile -t passes < <(log_passes "$dir/$name.LOF")
  read -r ref_last mid wait0 wait_mid ref_total < <(printf '%s\n' "${passes[@]}" | awk '
    { cum[$1] = $2; if ($1 >= 1 && $1 <= 899) last = $1; end = $2 }
    END {
      mid = int((last + 1) / 2); if (mid < 1) mid = 1
      print last, mid, 0.3 * (cum[0] - cum[-1]), 0.3 * (cum[mid] - cum[mid - 1]), end
    }')
  # Short passes need quick polls; an hour-long build does with a few a second.
  poll=$(awk -v t="$ref_total" 'BEGIN {p = t / 200; printf "%.2f", (p < 0.02 ? 0.02 : (p > 0.25 ? 0.25 : p))}')
fi

scratch="$dir/$name.kill"
rm -rf "$scratch"
mkdir "$scratch"
for s in "${subs[@]}"; do
  ln "$dir/$(dbname "$s")"[WB].* "$scratch/" 2>/dev/null || cp "$dir/$(dbname "$s")"[WB].* "$scratch/"
done
run="$scratch/$name/RUN"
start_build() {
  (cd "$scratch" && exec "$zok" -b "$name" </dev/null >>"$name.out" 2>&1) &
  zpid=$!
}
# Waits for passdone to reach $2, then $3 seconds more, stops the build and
# kills it if the pass that runs is still one of those aimed at (passdone
# from $2 up to $4). Prints the outcome as the line for kill $1.
kill_at() {
  local label=$1 from=$2 delay=$3 upto=$4 status
  while kill -0 "$zpid" 2>/dev/null; do
    read_passdone "$run"
    [ -n "$passdone" ] && [ "$passdone" -ge "$from" ] && break
    sleep "$poll"
  done
  kill -0 "$zpid" 2>/dev/null && sleep "$delay"
  if ! kill -STOP "$zpid" 2>/dev/null; then
    echo "$label: not done, the build ended first"
    return
  fi
  read_passdone "$run"
  if [ -n "$passdone" ] && [ "$passdone" -ge "$from" ] && [ "$passdone" -le "$upto" ]; then
    kill -KILL "$zpid"
    status=0
    wait "$zpid" 2>/dev/null || status=$?
    echo "$label: killed in pass $((passdone + 1)) (exit status $status), resumed"
    start_build
  else
    kill -CONT "$zpid"
    echo "$label: not done, pass $((upto + 1)) had ended (RUN passdone ${passdone:-none})"
  fi
}

echo
kill_start=$(now_us)
start_build
kill_at "kill 1 (initial passes)" -1 "$wait0" -1
kill_at "kill 2 (iteration)" $((mid - 1)) "$wait_mid" $((ref_last - 1))
await_build "$zpid" "the resumed build of $name failed, see $scratch/$name.out" "$scratch/$name.out"
printf '%-22s %9s\n' "kill check wall_s" "$(secs $(( $(now_us) - kill_start )))"

# Byte for byte, but the creation time in the index files' header.
# The databases' files in directory $1, without the checksum files.
db_files() {
  local f
  for f in "$1/$db"[WB].*; do
    [[ $f == *.SHA256 ]] || [ ! -e "$f" ] || echo "${f##*/}"
  done
}
differ=()
mapfile -t ref_files < <(db_files "$dir")
mapfile -t new_files < <(db_files "$scratch")
[ "${ref_files[*]}" = "${new_files[*]}" ] ||
  differ+=("file list: reference ${ref_files[*]}; resumed ${new_files[*]}")
for f in "${ref_files[@]}"; do
  [ -f "$scratch/$f" ] || continue
  cmp -s "$dir/$f" "$scratch/$f" && continue
  if [[ $f == *.JIX ]] && [ "$(stat -c %s "$dir/$f")" = "$(stat -c %s "$scratch/$f")" ] &&
     { cmp -l "$dir/$f" "$scratch/$f" || true; } | awk '$1 < 25 || $1 > 28 {bad = 1} END {exit bad}'; then
    continue
  fi
  differ+=("$f")
done
if [ ${#differ[@]} -eq 0 ]; then
  echo "resume: identical"
  rm -rf "$scratch"
  exit $failed
fi
echo "resume: differs: ${differ[*]} (kept in $scratch)"
exit 1
