#!/usr/bin/env bash
# The whole program as a new user meets it, under Xvfb, with real mouse and keyboard
# input: an empty program directory (the build's programs, help pages and integrity
# manifest), "扫描数据库文件", a site directory typed into the scan settings, the
# list filled by the refresh watcher while the scanner runs in its terminal, two rows
# ticked and compacted, the totals box and the ratios in the list. A screenshot of
# every step is saved. The web server companions are recording stand-ins here.
#   user_e2e.sh <program dir of the build> <sample databases> <screenshot dir> <x_input>
set -euo pipefail
dist=$1 corpus=$2 shots=$3 input_program=$4

if [ "${MDB_E2E_INNER:-}" != 1 ]; then
  export MDB_E2E_INNER=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
export GSETTINGS_BACKEND=memory

work=$(mktemp -d /tmp/mdbwarden-e2e.XXXXXX)
backup_root=/var/backups/qor_mdb_backup
warden=""
cleanup() {
  for pid in $(scanner_pids); do kill "$pid" 2>/dev/null || true; done
  [ -n "$warden" ] && kill "$warden" 2>/dev/null || true
  wait 2>/dev/null || true
  # The backups of this run's site copies (the backup area is the real one).
  if [ -d "$backup_root" ]; then
    find "$backup_root" -mindepth 2 -maxdepth 2 -type d -newer "$work/started" 2>/dev/null |
      while read -r run; do
        if [ -e "$run/${site#/}" ]; then rm -rf -- "$run"; rmdir --ignore-fail-on-non-empty "$(dirname "$run")"; fi
      done
    # The area's temporary folder, when this run created it and left it empty.
    [ "$backup_root/temp" -nt "$work/started" ] && rmdir --ignore-fail-on-non-empty "$backup_root/temp"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
touch "$work/started"

fail() { echo "FAIL: $*"; xwininfo -root -children | grep '"' || true; cat "$work/mdbwarden.log" 2>/dev/null || true; exit 1; }
wait_for() {  # seconds, command...
  local limit=$1; shift
  for ((i = 0; i < limit * 10; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
step=0
shot() { step=$((step + 1)); import -window root "$shots/$(printf '%02d' $step)-$1.png"; }

# Scanner processes started from this program directory (by process id).
scanner_pids() {
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" = "$prog/mdbscout" ] && { p=${exe#/proc/}; echo "${p%/exe}"; }
  done
  return 0
}

# Geometry "W H X Y" of the top-level window whose name is exactly $1.
geometry() {
  xwininfo -root -children | grep -F "\"$1\":" | head -n 1 |
    sed -E 's/.* ([0-9]+)x([0-9]+)[+-][0-9]+[+-][0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/'
}
# True when a window named exactly $1 is on the screen (mapped), not just created.
has_window() {
  local id
  for id in $(xwininfo -root -children | grep -F "\"$1\":" | awk '{print $1}'); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && return 0
  done
  return 1
}
mapped_count() {
  local id n=0
  for id in $(xwininfo -root -children | grep -F "\"$1\":" | awk '{print $1}'); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && n=$((n + 1))
  done
  echo "$n"
}
# Clicks the centre of the rectangle x y w h (dialog units) of window $1, whose client
# area is $2 x $3 dialog units.
click_dlu() {
  local name=$1 cw=$2 ch=$3 x=$4 y=$5 w=$6 h=$7
  read -r W H X Y < <(geometry "$name")
  local px=$(( X + (2 * x + w) * W / (2 * cw) ))
  local py=$(( Y + (2 * y + h) * H / (2 * ch) ))
  input click "$px" "$py"
}
# x_input under Xvfb prints harmless GTK warnings.
input() { "$input_program" "$@" 2> >(grep -v -e Gtk-CRITICAL -e '^$' >&2); }

prog=$work/prog site=$work/www
mkdir -p "$prog/config" "$site/shop/App_Data" "$site/bbs/data" "$shots"
rm -f "$shots"/*.png
cp "$dist/mdbwarden" "$dist/mdbscout" "$dist/mdbcompact" "$prog/" 2>/dev/null || cp "$dist/mdbwarden" "$dist/mdbscout" "$prog/"
cp "$dist"/config/Help* "$prog/config/"
for companion in mdbscout_iisreset mdbscout_xconfig; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/companions.log"\n' "$companion" "$work" >"$prog/$companion"
  chmod +x "$prog/$companion"
done
# The manifest lists the same files as the build's, with this directory's contents.
while read -r _ rel; do
  [ -e "$prog/$rel" ] && (cd "$prog" && sha256sum "$rel")
done <"$dist/mdbwarden.sha256" >"$prog/mdbwarden.sha256"
cp "$corpus"/jet4/*V2000.mdb "$site/shop/App_Data/"
cp "$corpus"/jet3/*V1997.mdb "$site/bbs/data/"

rows() { sqlite3 "$prog/config/FileInfo.dat" 'select count(*) from fileinfo' 2>/dev/null || echo 0; }
ini_key() { sed -n "s/^[[:space:]]*$1[[:space:]]*=[[:space:]]*//ip" "$prog/mdbscout.ini" 2>/dev/null | tr -d '\r'; }

# 1. The program comes up on its empty directory.
(cd "$prog" && exec ./mdbwarden >"$work/mdbwarden.log" 2>&1) &
warden=$!
main_up() { xwininfo -root -children | grep -q '"Veloran MDB 助手 V'; }
wait_for 40 main_up || fail "no main window"
main=$(xwininfo -root -children | grep -o '"Veloran MDB 助手 V[^"]*"' | head -n 1 | tr -d '"')
sleep 3
shot start

# 2. "扫描数据库文件" opens the scan settings.
click_dlu "$main" 678 472 8 37 70 21
wait_for 20 has_window "文件扫描设置" || fail "the scan settings did not open"
sleep 1
shot scan-settings

# 3. The site directory typed into the box, then "开始扫描" and Yes.
click_dlu "文件扫描设置" 399 142 13 24 283 64
input type "$site"
sleep 0.5
shot typed
click_dlu "文件扫描设置" 399 142 51 105 75 21
wait_for 20 has_window "Veloran MDB 助手" || fail "no question after 开始扫描"
sleep 1
shot question
input key return
settings_closed() { ! has_window "文件扫描设置"; }
wait_for 20 settings_closed || fail "the scan settings stayed open"
[ "$(tr -d '\r' <"$prog/config/ScanDir.txt")" = "$site" ] || fail "ScanDir.txt holds $(cat "$prog/config/ScanDir.txt")"

# 4. The scanner runs in its own terminal; the watcher fills the list.
wait_for 20 bash -c "[ -n \"\$(for e in /proc/[0-9]*/exe; do [ \"\$(readlink \$e 2>/dev/null)\" = '$prog/mdbscout' ] && echo y; done)\" ]" ||
  fail "the scanner did not start"
if command -v x-terminal-emulator >/dev/null || command -v xterm >/dev/null; then
  terminal_up() { xwininfo -root -children | grep -qiE '"(mdbscout|[a-z]*term)'; }
  wait_for 20 terminal_up || fail "the scanner has no terminal window"
fi
scanned() { [ "$(rows)" -ge 5 ] && [ "$(ini_key refscanlog)" = 0 ]; }
wait_for 60 scanned || fail "the list was not refreshed after the scan (rows $(rows), refscanlog $(ini_key refscanlog))"
sleep 4
shot list-filled
echo "rows recorded: $(rows)"
# The user closes the scanner's window instead of waiting for its countdown.
for pid in $(scanner_pids); do kill "$pid" 2>/dev/null || true; done  # it may have ended by itself meanwhile
terminal_gone() { ! xwininfo -root -children | grep -qiE '"(mdbscout|[a-z]*term)'; }
wait_for 20 terminal_gone || fail "the scanner's terminal stayed open"
sleep 1
shot list-after-scan

# 5. Two rows ticked by their check boxes (header 25 px, rows 21 px high here).
read -r W H X Y < <(geometry "$main")
list_left=$(( X + 5 * W / 678 )) list_top=$(( Y + 88 * H / 472 ))
for row in 0 1; do
  input click $(( list_left + 14 )) $(( list_top + 25 + 21 * row + 10 ))
done
sleep 1
shot two-rows-ticked

# 6. "压缩选择数据库", the confirmation dialog and its question.
# (Without a window manager a closed GTK message box may stay listed as viewable;
# new boxes are counted against what is listed now.)
baseline=$(mapped_count "Veloran MDB 助手")
click_dlu "$main" 678 472 158 37 70 21
wait_for 20 has_window "数据库文件压缩确认" || fail "no compaction confirmation"
sleep 1
shot confirm-dialog
[ "$(mapped_count "数据库文件压缩确认")" = 1 ] || fail "more than one confirmation"
click_dlu "数据库文件压缩确认" 469 298 76 264 100 23
two_confirm_windows() { [ "$(mapped_count "数据库文件压缩确认")" -ge 2 ]; }
wait_for 20 two_confirm_windows || fail "no question in the confirmation"
sleep 1
shot confirm-question
# The question's Yes button, the right one of the two at its bottom.
read -r W H X Y < <(xwininfo -root -children | grep -F '"数据库文件压缩确认":' |
  sed -E 's/.* ([0-9]+)x([0-9]+)[+-][0-9]+[+-][0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/' |
  sort -n | head -n 1)
input click $(( X + 3 * W / 4 )) $(( Y + H - 17 ))

# 7. The request is posted (a notice); the supervisor compacts and shows the totals,
#    on top. Return closes the totals box.
box_open() { [ "$(mapped_count "Veloran MDB 助手")" -gt "$baseline" ]; }
wait_for 30 box_open || fail "no notice after the confirmation"
sleep 0.5
shot compaction-requested
compacted() { [ "$(sqlite3 "$prog/config/FileInfo.dat" "select count(*) from fileinfo where CompactDatabase='1'")" = 2 ]; }
wait_for 120 compacted || fail "the two files were not compacted"
sleep 2
shot totals
box_open || fail "no totals box"
input key return
sleep 2
shot ratios

grep -q 'mdbscout_iisreset /stop' "$work/companions.log" || fail "the web server was not stopped"
grep -q 'mdbscout_iisreset /start' "$work/companions.log" || fail "the web server was not started again"
smaller=$(sqlite3 "$prog/config/FileInfo.dat" "select count(*) from fileinfo where CompactDatabase='1' and filesize2 > 0 and filesize2 < filesize")
[ "$smaller" = 2 ] || fail "compacted sizes not recorded ($smaller of 2)"
queued=$(sqlite3 "$prog/config/FileInfo.dat" "select count(*) from fileinfo where CompactDatabase='2'")
[ "$queued" = 0 ] || fail "$queued records still queued"
echo "companions: $(tr '\n' ';' <"$work/companions.log")"
kill -0 "$warden" || fail "mdbwarden ended"
echo "screenshots in $shots"
echo PASS
