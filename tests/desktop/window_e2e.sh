#!/usr/bin/env bash
# End-to-end run of the real mdbwarden window under Xvfb: a program directory whose
# FileInfo.dat was filled by a real mdbscout run over copies of the sample
# databases; the window must come up, the list refresh watcher must take the
# scanner's refresh requests, a second copy may run beside the first, closing the
# window ends the process, and screenshots are saved for a human look.
#   window_e2e.sh <program dir of the build> <sample databases> <screenshot dir> <x_close_window>
set -euo pipefail
dist=$1 corpus=$2 shots=$3 closer=$4

if [ "${MDB_E2E_INNER:-}" != 1 ]; then
  # Started without a display, the program must refuse with a message.
  if env -u DISPLAY -u WAYLAND_DISPLAY "$dist/mdbwarden" >/dev/null 2>/tmp/mdbwarden-nodisplay.$$; then
    echo "FAIL: mdbwarden started without a display"; exit 1
  fi
  if [ ! -s /tmp/mdbwarden-nodisplay.$$ ]; then
    echo "FAIL: no message on stderr without a display"; exit 1
  fi
  rm -f /tmp/mdbwarden-nodisplay.$$
  export MDB_E2E_INNER=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work=$(mktemp -d)
warden=""
scout=""
cleanup() {
  [ -n "$scout" ] && kill "$scout" 2>/dev/null || true
  [ -n "$warden" ] && kill "$warden" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

prog=$work/prog site=$work/www
mkdir -p "$prog/config" "$site/shop/App_Data" "$site/论坛/data" "$shots"
cp "$dist/mdbwarden" "$dist/mdbscout" "$dist/mdbwarden.sha256" "$prog/"
cp "$dist"/config/Help* "$prog/config/"
cp "$corpus"/jet4/*V2000.mdb "$site/shop/App_Data/"
cp "$corpus"/jet3/*V1997.mdb "$site/论坛/data/"
cp "$corpus/jet4/testV2000.mdb" "$site/论坛/data/会员资料.asp"  # found by content, not by name
printf '%s\r\n' "$site" > "$prog/config/ScanDir.txt"

rows() { sqlite3 "$prog/config/FileInfo.dat" 'select count(*) from fileinfo'; }
refscanlog() { sed -n 's/^[[:space:]]*refscanlog[[:space:]]*=[[:space:]]*//ip' "$prog/mdbscout.ini" 2>/dev/null | tr -d '\r' ; }
wait_for() {  # seconds, command...
  local limit=$1; shift
  for ((i = 0; i < limit * 10; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}

# 1. A real scan fills FileInfo.dat. The scanner ends with a 30-second countdown for
#    its watcher; it is ended there, as a user closes its window.
(cd "$prog" && exec ./mdbscout /FileScan </dev/null >"$work/scan1.log" 2>&1) &
scout=$!
countdown() { grep -q '请点右上角' "$work/scan1.log"; }
wait_for 60 countdown || { echo "FAIL: the scanner did not finish"; cat "$work/scan1.log"; exit 1; }
kill "$scout"; wait "$scout" 2>/dev/null || true; scout=""
first=$(rows)
echo "rows after the first scan: $first"
[ "$first" -ge 5 ] || { echo "FAIL: the scan recorded too few files"; cat "$work/scan1.log"; exit 1; }
[ "$(refscanlog)" = 1 ] || { echo "FAIL: the scanner left no refresh request"; exit 1; }

# 2. The window comes up and its watcher takes the pending request.
(cd "$prog" && GSETTINGS_BACKEND=memory exec ./mdbwarden >"$work/mdbwarden.log" 2>&1) &
warden=$!
window_up() { xwininfo -root -children | grep -q 'Veloran MDB'; }
wait_for 30 window_up || { echo "FAIL: no mdbwarden window"; xwininfo -root -children; cat "$work/mdbwarden.log"; exit 1; }
xwininfo -root -children | grep 'Veloran MDB'
request_taken() { [ "$(refscanlog)" = 0 ]; }
wait_for 10 request_taken || { echo "FAIL: the refresh request was not taken"; exit 1; }
sleep 3
import -window root "$shots/mdbwarden-list.png"

# 3. While the window runs, a second scan finds one more file; the list refreshes by itself.
cp "$corpus/jet4/bigIndexTestV2000.mdb" "$site/shop/App_Data/新增订单.mdb"
(cd "$prog" && exec ./mdbscout /FileScan </dev/null >"$work/scan2.log" 2>&1) &
scout=$!
grown() { [ "$(rows)" -gt "$first" ] && [ "$(refscanlog)" = 0 ] && grep -q '新增订单' "$work/scan2.log"; }
wait_for 30 grown || { echo "FAIL: the second scan was not picked up"; cat "$work/scan2.log"; exit 1; }
sleep 4
import -window root "$shots/mdbwarden-refreshed.png"
echo "rows after the second scan: $(rows)"

kill -0 "$warden" || { echo "FAIL: mdbwarden ended early"; cat "$work/mdbwarden.log"; exit 1; }

# 4. A second copy runs beside the first and shows the same records.
(cd "$prog" && GSETTINGS_BACKEND=memory exec ./mdbwarden >"$work/second.log" 2>&1) &
second=$!
two_windows() { [ "$(xwininfo -root -children | grep -c 'Veloran MDB 助手 V3.00')" -ge 2 ]; }
wait_for 30 two_windows || { echo "FAIL: the second copy did not come up"; cat "$work/second.log"; exit 1; }
kill -0 "$warden" && kill -0 "$second" || { echo "FAIL: a copy ended"; exit 1; }
kill "$second"; wait "$second" 2>/dev/null || true

# 5. The close box ends the process at once, while the watcher thread sleeps.
"$closer" 'Veloran MDB' || { echo "FAIL: no window to close"; exit 1; }
ended() { ! kill -0 "$warden" 2>/dev/null; }
wait_for 10 ended || { echo "FAIL: closing the window did not end mdbwarden"; exit 1; }
wait "$warden" 2>/dev/null && rc=0 || rc=$?
warden=""
echo "mdbwarden ended after the close request (exit code $rc)"
echo "screenshots: $shots/mdbwarden-list.png $shots/mdbwarden-refreshed.png"
echo "PASS"
