#!/usr/bin/env bash
# End-to-end run of the real mdbwarden window under Xvfb with a window manager
# (openbox): a program directory whose FileInfo.dat was filled by a real mdbscout run
# over copies of the sample databases; the window must come up, the list refresh
# watcher must take the scanner's refresh requests, a batch over many copies of a
# large database is started and stopped with the mouse and keyboard while every box
# is left open for a few seconds, a second copy may run beside the first, closing the
# window ends the process, and screenshots are saved for a human look.
#   window_e2e.sh <program dir of the build> <sample databases> <screenshot dir> <x_close_window>
# MDB_BLOATED_SAMPLE may name the large bloated sample; else <sample databases>/bloated
# is looked in, else the largest small sample is copied more often.
set -euo pipefail
export LC_ALL=C.UTF-8
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
wm=""
backup_root=/var/backups/qor_mdb_backup
cleanup() {
  [ -n "$scout" ] && kill "$scout" 2>/dev/null || true
  [ -n "$warden" ] && kill "$warden" 2>/dev/null || true
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  wait 2>/dev/null || true
  # The backups of this run's sites (the backup root is fixed; other runs' stay).
  rm -rf "$backup_root"/*/*/"${work#/}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The window manager gives every box a real, placed and focused window.
openbox --sm-disable >/dev/null 2>&1 &
wm=$!

prog=$work/prog site=$work/www
mkdir -p "$prog/config" "$site/shop/App_Data" "$site/论坛/data" "$site/orders" "$shots"
cp "$dist/mdbwarden" "$dist/mdbscout" "$dist/mdbscout_iisreset" "$dist/mdbscout_xconfig" \
   "$dist/mdbwarden.sha256" "$prog/"
cp "$dist"/config/Help* "$prog/config/"
cp "$corpus"/jet4/*V2000.mdb "$site/shop/App_Data/"
cp "$corpus"/jet3/*V1997.mdb "$site/论坛/data/"
cp "$corpus/jet4/testV2000.mdb" "$site/论坛/data/会员资料.asp"  # found by content, not by name
# The long batch: many copies of a large bloated database (fewer when only the small
# samples are at hand, where each file is quick).
bloated=${MDB_BLOATED_SAMPLE:-$corpus/bloated/site_orders_jet4.mdb}
copies=20
if [ ! -f "$bloated" ]; then bloated=$corpus/jet4/testV2000.mdb copies=300; fi
for ((i = 1; i <= copies; i++)); do cp "$bloated" "$site/orders/orders_$i.mdb"; done
printf '%s\r\n' "$site" > "$prog/config/ScanDir.txt"

rows() { sqlite3 "$prog/config/FileInfo.dat" 'select count(*) from fileinfo'; }
refscanlog() { sed -n 's/^[[:space:]]*refscanlog[[:space:]]*=[[:space:]]*//ip' "$prog/mdbscout.ini" 2>/dev/null | tr -d '\r' ; }
wait_for() {  # seconds, command...
  local limit=$1; shift
  for ((i = 0; i < limit * 10; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}

# Windows: the main window is captioned "Veloran MDB 助手 V<version> ...", every box
# "Veloran MDB 助手". The ids are those of the client windows inside openbox's frames.
main_window() { xwininfo -root -tree | grep '"Veloran MDB 助手 V' | awk '{print $1}' | head -1; }
box_windows() { xwininfo -root -tree | grep '"Veloran MDB 助手": (' | awk '{print $1}'; }
box_count() { box_windows | grep -c . || true; }
geometry() {  # id -> "x y width height" on the screen
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /^ *Width/ {w=$2} /^ *Height/ {h=$2} END {print x, y, w, h}'
}
# Clicks a point of the main window given in dialog units (the window is 678 x 472 of
# them, so the scale comes from its client size, whatever the font).
click_du() {
  local g; g=$(geometry "$(main_window)")
  read -r mx my mw mh <<<"$g"
  local px=$((mx + $1 * mw / 678)) py=$((my + $2 * mh / 472))
  xdotool mousemove "$px" "$py" sleep 0.2 click 1
}
# A box must be centred on the main window (within a few pixels of rounding and frame).
centred_on_main() {
  read -r bx by bw bh <<<"$(geometry "$1")"
  read -r mx my mw mh <<<"$(geometry "$(main_window)")"
  local dx=$(((bx + bw / 2) - (mx + mw / 2))) dy=$(((by + bh / 2) - (my + mh / 2)))
  [ "${dx#-}" -le 30 ] && [ "${dy#-}" -le 30 ] || { echo "box at $bx,$by ${bw}x$bh, main at $mx,$my ${mw}x$mh"; return 1; }
}
traced() { grep -c "^mdbwarden: $1" "$work/mdbwarden.log" || true; }
has_trace() { [ "$(traced "$1")" -ge 1 ]; }
has_boxes() { [ "$(box_count)" -ge "$1" ]; }
# Waits for the box traced as "$1: $2..." to be open, leaves it open for a few seconds
# as a person does, takes a screenshot, checks its place and gives it the focus.
box_up() {  # kind text-start screenshot-name [seconds left open, default 3]
  wait_for 60 has_trace "$1: $2" || { echo "FAIL: no box \"$2\""; tail -20 "$work/mdbwarden.log"; exit 1; }
  wait_for 10 has_boxes 1 || { echo "FAIL: box \"$2\" has no window"; exit 1; }
  sleep "${4:-3}"
  import -window root "$shots/$3.png"
  local top; top=$(box_windows | tail -1)
  centred_on_main "$top" || { echo "FAIL: box \"$2\" is not centred on the main window"; exit 1; }
  xdotool windowactivate --sync "$top" 2>/dev/null || true
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
window_up() { xwininfo -root -tree | grep -q 'Veloran MDB'; }
wait_for 30 window_up || { echo "FAIL: no mdbwarden window"; xwininfo -root -tree; cat "$work/mdbwarden.log"; exit 1; }
xwininfo -root -tree | grep 'Veloran MDB'
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

# 4. A batch over every file, started with the mouse, then stopped while it runs.
total=$(rows)
click_du 118 47   # "压缩全部数据库"
box_up question '确定压缩搜索出来的全部数据库文件吗' mdbwarden-confirm
grep 'question: 确定压缩' "$work/mdbwarden.log" | grep -q 'IIS' && { echo "FAIL: the question speaks of IIS"; exit 1; }
xdotool key alt+y
# The started notice does not block the window; it is left open like a person would.
wait_for 10 has_trace "notice: 已经开始压缩数据库文件" || { echo "FAIL: no started notice"; exit 1; }
batch_started() { ls -d "$backup_root"/*/*/"${work#/}" >/dev/null 2>&1; }
wait_for 30 batch_started || { echo "FAIL: the batch did not start"; tail "$work/mdbwarden.log"; exit 1; }
import -window root "$shots/mdbwarden-running.png"
click_du 268 47   # "停止压缩", reachable beside the notice
# Answered at once: the batch goes on while the question is open, and the copies of the
# small sample (used when the bloated one is absent) take only a few seconds in all.
box_up question '确定停止压缩数据库文件吗' mdbwarden-ask-stop 0.5
xdotool key alt+y
box_up box '已停止压缩数据库文件' mdbwarden-stopped
xdotool key Return
box_up box '数据库压缩已停止' mdbwarden-totals
totals=$(grep 'box: 数据库压缩' "$work/mdbwarden.log" | tail -1)
echo "$totals"
[ "$(box_count)" -eq 1 ] || { echo "FAIL: other boxes are still open beside the totals"; xwininfo -root -tree | grep Veloran; exit 1; }
xdotool key Return
no_boxes() { [ "$(box_count)" -eq 0 ]; }
wait_for 10 no_boxes || { echo "FAIL: a box stayed open"; exit 1; }
done_n=$(sed -n 's/.*成功压缩 \([0-9]*\) 个.*/\1/p' <<<"$totals")
left_n=$(sed -n 's/.*未处理 \([0-9]*\) 个.*/\1/p' <<<"$totals")
[ -n "$left_n" ] && [ "$left_n" -gt 0 ] && [ "$done_n" -ge 1 ] ||
  { echo "FAIL: the stop did not leave files out: $totals"; exit 1; }
# No more copies were changed than the totals count as compacted.
changed=0
for f in "$site"/orders/*.mdb; do cmp -s "$f" "$bloated" || changed=$((changed + 1)); done
[ "$changed" -le "$done_n" ] || { echo "FAIL: $changed copies changed, $done_n compacted"; exit 1; }
# One supervisor only: no other copy to complain about, also a poll after the batch.
sleep 4
import -window root "$shots/mdbwarden-after-batch.png"
if grep -q '另一个正在运行的本程序' "$work/mdbwarden.log"; then echo "FAIL: a second supervisor"; exit 1; fi
# The boxes came in the order of the events.
order=$(grep -o '^mdbwarden: [a-z]*: [^，。？！]*' "$work/mdbwarden.log" | sed 's/^mdbwarden: //')
expected=$'question: 确定压缩搜索出来的全部数据库文件吗\nnotice: 已经开始压缩数据库文件\nquestion: 确定停止压缩数据库文件吗\nbox: 已停止压缩数据库文件\nbox: 数据库压缩已停止'
[ "$order" = "$expected" ] || { echo "FAIL: boxes out of order:"; echo "$order"; exit 1; }
echo "batch of $total files stopped: $totals"

# 5. A second copy runs beside the first and shows the same records.
(cd "$prog" && GSETTINGS_BACKEND=memory exec ./mdbwarden >"$work/second.log" 2>&1) &
second=$!
two_windows() { [ "$(xwininfo -root -tree | grep -c '"Veloran MDB 助手 V')" -ge 2 ]; }
wait_for 30 two_windows || { echo "FAIL: the second copy did not come up"; cat "$work/second.log"; exit 1; }
kill -0 "$warden" && kill -0 "$second" || { echo "FAIL: a copy ended"; exit 1; }
kill "$second"; wait "$second" 2>/dev/null || true

# 6. The close box ends the process at once, while the watcher thread sleeps; both
#    background threads end and are joined.
"$closer" 'Veloran MDB' || { echo "FAIL: no window to close"; exit 1; }
ended() { ! kill -0 "$warden" 2>/dev/null; }
wait_for 10 ended || { echo "FAIL: closing the window did not end mdbwarden"; exit 1; }
wait "$warden" 2>/dev/null && rc=0 || rc=$?
warden=""
echo "mdbwarden ended after the close request (exit code $rc)"
echo "screenshots in $shots"
echo "PASS"
