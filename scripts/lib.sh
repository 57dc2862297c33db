# shellcheck shell=bash
# Parts the scripts share. Source it from a script that has cd'ed to the checkout's root:
#   . "$(dirname "$0")/lib.sh"

# The read-only sample databases: $MDB_CORPUS_DIR, else the shared sample set beside the
# checkout (it holds the large bloated file too), else the copy of the small files kept in
# tests/corpus. The same choice as tests/CMakeLists.txt makes.
mdb_corpus_dir() {
  local dir="${MDB_CORPUS_DIR:-$(cd .. && pwd)/shared/corpus}"
  [ -d "$dir/jet4" ] || dir="$PWD/tests/corpus"
  printf '%s\n' "$dir"
}

# Starts DIST/mdbwarden under Xvfb, waits SECONDS (default 8) and saves a picture of the
# screen to SHOT. Fails, without a picture, when the window ended during its start.
mdb_screenshot_window() {
  local dist=$1 shot=$2 seconds=${3:-8} inner
  inner=$(mktemp)
  cat >"$inner" <<INNER
#!/usr/bin/env bash
cd "$dist"
GSETTINGS_BACKEND=memory ./mdbwarden &
pid=\$!
sleep $seconds
if ! kill -0 \$pid 2>/dev/null; then
  wait \$pid
  echo "mdbwarden ended during its start (exit code \$?)" >&2
  exit 1
fi
import -window root "$shot"
kill \$pid
INNER
  chmod +x "$inner"
  local status=0
  xvfb-run -a -s "-screen 0 1280x1024x24" "$inner" || status=$?
  rm -f "$inner"
  if [ "$status" -ne 0 ]; then
    echo "mdbwarden did not come up under Xvfb" >&2
    return 1
  fi
}

# Scans the directories of DIST/config/ScanDir.txt with DIST/mdbscout and prints its console
# text. The scanner ends with a 30-second closing countdown for the person watching its
# window; it is ended with SIGTERM once its summary is out and the countdown runs (every row
# is stored by then), the way a user closes the window. The countdown line is recognised by
# its "\r" redraws, not by its words, which depend on the language.
mdb_scan_once() {
  local dist=$1 out pid
  out=$(mktemp)
  "$dist/mdbscout" /FileScan </dev/null >"$out" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    # The countdown redraws its line after a bare carriage return.
    if grep -aq $'\r.' "$out"; then
      kill -TERM "$pid" 2>/dev/null || true
      break
    fi
    sleep 0.2
  done
  wait "$pid" 2>/dev/null || true
  # The console text without the countdown's redrawn line.
  sed 's/\r$//' "$out" | grep -av $'\r' | cat -s
  rm -f "$out"
}

# Timing for the bench-* scripts. median and paired run N = $rounds rounds; timed calls the
# script's own `clean` (removes the outputs of the round before) before it starts the clock.
bench_now() { date +%s.%N; }
median_of() {  # median of the times given, seconds
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# Removing the outputs of the round before is not timed: a removal costs as much as
# copying the bloated sample (about 16 ms here, most of it starting rm), and timing it
# with both sides made their ratio look smaller.
timed() {  # runs a command after cleaning up, prints its wall time in seconds
  local s e; clean; s=$(bench_now); "$@"; e=$(bench_now)
  awk -v a="$s" -v b="$e" 'BEGIN { printf "%.3f", b - a }'
}
median() {  # median of N rounds, seconds
  local times=() r
  for ((r = 0; r < ${rounds:?}; r++)); do times+=("$(timed "$@")"); done
  median_of "${times[@]}"
}
# paired A... -- B...: the medians of A and of B over N rounds that run both, in turn
# (A first in even rounds, B first in odd ones): the machine's speed drifts by up to
# a third over minutes here, and timing all of A and then all of B let that drift
# move their ratio by about 0.3x.
paired() {
  local a=() ta=() tb=() r
  while [ "$1" != "--" ]; do a+=("$1"); shift; done
  shift
  for ((r = 0; r < ${rounds:?}; r++)); do
    if ((r % 2 == 0)); then ta+=("$(timed "${a[@]}")"); tb+=("$(timed "$@")")
    else tb+=("$(timed "$@")"); ta+=("$(timed "${a[@]}")"); fi
  done
  echo "$(median_of "${ta[@]}") $(median_of "${tb[@]}")"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
peak_kb() {  # peak resident memory of a command, KB
  { /usr/bin/time -v "$@" >/dev/null; } 2>&1 | awk -F': ' '/Maximum resident/ { print $2 }'
}
goal() {  # goal WHAT VALUE LIMIT UNIT: says whether VALUE <= LIMIT
  awk -v w="$1" -v v="$2" -v l="$3" -v u="$4" \
    'BEGIN { printf "    goal %s: %s%s <= %s%s %s\n", w, v, u, l, u, (v + 0 <= l + 0 ? "met" : "NOT MET") }'
}
cpu_s() {  # user + system CPU seconds of a command
  { /usr/bin/time -f '%U %S' "$@" >/dev/null; } 2>&1 | tail -1 | awk '{ printf "%.2f", $1 + $2 }'
}

# The large generated files of the benchmarks, one "name:mdbgen arguments" a line (the
# arguments follow SOURCE OUTPUT, SOURCE being the bloated sample):
#   wide-1g, wide-2g   Orders of the bloated sample with its memo values, 25 % deleted
#   narrow-2.4m/8m/20m one table of narrow rows with three indexes, 10 % deleted
#   lvsmall-2g         Orders rows with short memo values only: millions of small
#                      long values, 10 % deleted
bench_gen_cases() {
  cat <<'CASES'
wide-1g:--table Orders --size 1G --deleted 25
wide-2g:--table Orders --size 2000M --deleted 25
narrow-2.4m:--table Orders --narrow --rows 2400000 --deleted 10
narrow-8m:--table Orders --narrow --rows 8000000 --deleted 10
narrow-20m:--table Orders --narrow --rows 20000000 --deleted 10
lvsmall-2g:--table Orders --small-long-values --size 2000M --deleted 10
CASES
}
