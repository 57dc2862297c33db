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
