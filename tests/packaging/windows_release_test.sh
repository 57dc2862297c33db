#!/usr/bin/env bash
# The Windows release as an administrator meets it, under Wine (scripts/test-windows runs
# it): scripts/package-windows builds the installer and the zip; in a fresh Wine prefix
# the installer is run quietly, the installed mdbscout.exe scans a site tree and
# mdbcompact.exe compacts what it recorded; a newer build is installed over it (the
# programs replaced, the records, ScanDir.txt, the ini, the run log and the backups kept);
# then it is uninstalled (the programs gone, the data kept). The zip must hold exactly the
# installed program directory. (No `| grep -q` here: with pipefail, the writer that grep
# leaves early fails the pipe.)
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
. scripts/lib.sh
scripts/package-windows >/dev/null
release="$root/build-windows/release"
version="$(cat build-windows/release-version)"
msi="$release/mdbwarden-$version-x64.msi"
zip="$release/mdbwarden-$version-x64.zip"
(cd "$release" && sha256sum --quiet -c SHA256SUMS)

work="$root/build-windows/release-test"
rm -rf "$work"
mkdir -p "$work"
fail() { echo "windows release test: $*" >&2; exit 1; }

# The newer build: the same programs with a changed help page, one patch version up.
newer_version="${version%.*}.$((${version##*.} + 1))"
cp -a build-windows/release-stage/mdbwarden "$work/newer"
page="config/$(ls "$work/newer/config" | head -1)"
echo "<!-- newer build -->" >>"$work/newer/$page"
scripts/package-windows --from "$work/newer" --version "$newer_version" --output "$work/newer-release" >/dev/null
newer_msi="$work/newer-release/mdbwarden-$newer_version-x64.msi"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
run() { "$root/scripts/wine-run" "$WINEPREFIX" "$@"; }
win() { printf 'Z:%s' "$1" | tr / '\\'; }
trap 'wineserver -k 2>/dev/null || true' EXIT
# Windows always runs the Task Scheduler service; Wine starts it on request only, and in a
# new prefix only once the Wine session that created the prefix has ended.
run cmd /c exit 0
wineserver -w
run net start schedule >/dev/null 2>&1 || fail "Wine's Task Scheduler service does not start"
# msiexec STEP ARGS: quietly, its log in build-windows/release-test/STEP.log.
msiexec() { local step="$1"; shift; run msiexec "$@" /qn /l*v "$(win "$work/$step.log")"; }

prog="$WINEPREFIX/drive_c/Program Files/Veloran/mdbwarden"
# A per-machine installation (ALLUSERS=1) puts the Start-menu entry into the common Start
# menu on Windows; Wine's installer uses the installing user's Start menu for it.
menu="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Veloran MDB 助手"
tasks="$WINEPREFIX/drive_c/windows/system32/tasks/Veloran MDB"
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
# The product's entry in "Programs and Features", empty when there is none.
uninstall_entry() {
  local entry
  entry="$(run reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" 2>/dev/null)" || return 0
  iconv -f GBK -t UTF-8 <<<"$entry" | tr -d '\r'
}

# --- Installation ---------------------------------------------------------------------
msiexec install /i "$(win "$msi")" || fail "the installation failed (build-windows/release-test/install.log)"
[ -f "$prog/mdbscout.exe" ] && [ -f "$prog/mdbcompact.exe" ] && [ -f "$prog/mdbwarden.exe" ] ||
  fail "the programs are not in Program Files\\Veloran\\mdbwarden"
grep -q "^ALLUSERS.1" <<<"$(msiinfo export "$msi" Property)" || fail "the package does not install per machine"
[ -f "$menu/Veloran MDB 助手.lnk" ] || fail "no Start-menu entry under the product's name"
entry="$(uninstall_entry "$(product_code "$msi")")"
grep -q "DisplayName.*Veloran MDB 助手" <<<"$entry" || fail "no entry in Programs and Features: $entry"
grep -q "DisplayVersion.*$version" <<<"$entry" || fail "Programs and Features shows another version: $entry"
for task in "mdbscout nightly scan" "mdbcompact weekly batch"; do
  grep -q '<Enabled>false</Enabled>' "$tasks/$task" 2>/dev/null || fail "scheduled task \"$task\" not registered disabled"
done
# The zip holds the installed program directory, byte for byte.
mkdir "$work/zip"
(cd "$work/zip" && unzip -q "$zip")
diff -r "$work/zip/mdbwarden" "$prog" || fail "the zip differs from the installed program directory"

# --- First scan and first batch, as the README gives them -------------------------------
corpus="$(mdb_corpus_dir)"
mkdir -p "$work/sites/站点一/数据"
cp "$corpus/jet4/delTestV2000.mdb" "$work/sites/站点一/数据/data.mdb"
chmod u+w "$work/sites/站点一/数据/data.mdb"
original_size="$(stat -c %s "$work/sites/站点一/数据/data.mdb")"
printf '%s\r\n' "$(win "$work/sites")" | iconv -f UTF-8 -t GBK >"$prog/config/ScanDir.txt"
(cd "$prog" && run mdbscout.exe /FileScan --quiet) >"$work/scan.txt" 2>&1 ||
  fail "the installed mdbscout.exe failed: $(iconv -f GBK -t UTF-8 -c "$work/scan.txt")"
[ -s "$prog/config/FileInfo.dat" ] || fail "the installed mdbscout.exe recorded nothing: $(iconv -f GBK -t UTF-8 -c "$work/scan.txt")"
(cd "$prog" && run mdbcompact.exe batch --all --no-web-server) >"$work/batch.txt" 2>&1 ||
  fail "mdbcompact.exe batch failed: $(iconv -f GBK -t UTF-8 -c "$work/batch.txt")"
grep -q "compacted 1, not compacted 0" "$work/batch.txt" || fail "the batch compacted nothing: $(cat "$work/batch.txt")"
[ "$(stat -c %s "$work/sites/站点一/数据/data.mdb")" -lt "$original_size" ] || fail "the database was not compacted"
backups="$WINEPREFIX/drive_d/qor_mdb_backup"
[ -n "$(find "$backups" -name data.mdb -size "${original_size}c")" ] || fail "no backup of the database in d:\\qor_mdb_backup"
printf '[mdbscout]\r\nFileScan=0\r\n' >>"$prog/mdbscout.ini"
# The data, as it must stay through the upgrade and the uninstall.
data_sums() {
  (cd "$prog" && sha256sum config/FileInfo.dat config/ScanDir.txt mdbscout.ini __mdbscout.log)
  (cd "$backups" && find . -type f -exec sha256sum {} + | LC_ALL=C sort)
}
data_sums >"$work/data.sha256"

# --- Upgrade: the newer build over it -------------------------------------------------
msiexec upgrade /i "$(win "$newer_msi")" || fail "the upgrade failed (build-windows/release-test/upgrade.log)"
cmp -s "$work/newer/$page" "$prog/$page" || fail "the upgrade left the old programs in place"
[ -z "$(uninstall_entry "$(product_code "$msi")")" ] || fail "the old version is still in Programs and Features"
grep -q "DisplayVersion.*$newer_version" <<<"$(uninstall_entry "$(product_code "$newer_msi")")" ||
  fail "the newer version is not in Programs and Features"
data_sums | diff "$work/data.sha256" - || fail "the upgrade changed the data"
# (Whether an enabled task stays enabled cannot be seen here: Wine removes the old version
# as a plain uninstall, which deletes the tasks, and the upgrade registers them anew.)
[ -f "$tasks/mdbscout nightly scan" ] && [ -f "$tasks/mdbcompact weekly batch" ] ||
  fail "no scheduled tasks after the upgrade"
(cd "$prog" && run mdbcompact.exe batch --dry-run --all --no-web-server) >"$work/dry-run.txt" 2>&1 ||
  fail "the upgraded mdbcompact.exe does not read the kept records: $(cat "$work/dry-run.txt")"
grep -q "data.mdb" "$work/dry-run.txt" || fail "the kept records lost the database: $(cat "$work/dry-run.txt")"

# --- Uninstall ------------------------------------------------------------------------
msiexec uninstall /x "$(win "$newer_msi")" || fail "the uninstall failed (build-windows/release-test/uninstall.log)"
left="$(cd "$work/zip/mdbwarden" && find . -type f -exec test -e "$prog/{}" \; -print)"
[ -z "$left" ] || fail "the uninstall left files of the package behind: $left"
[ ! -e "$menu" ] || fail "the uninstall left the Start-menu entry"
[ -z "$(uninstall_entry "$(product_code "$newer_msi")")" ] || fail "the uninstall left the Programs and Features entry"
[ ! -e "$tasks/mdbscout nightly scan" ] && [ ! -e "$tasks/mdbcompact weekly batch" ] ||
  fail "the uninstall left the scheduled tasks"
data_sums | diff "$work/data.sha256" - || fail "the uninstall changed the data"
# Its message about the data (shown with an interface; here quiet, so its action in the log).
grep -q "ShowDataNotice。返回值 1" <<<"$(iconv -f GBK -t UTF-8 -c "$work/uninstall.log")" ||
  fail "the uninstall did not give its message about the data"
echo "windows release test: install, scan, batch, upgrade to $newer_version and uninstall passed"
