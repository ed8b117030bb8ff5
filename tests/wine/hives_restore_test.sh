#!/usr/bin/env bash
# quenlo-cli.exe hives under Wine, read through Wine's own log of
# RegReplaceKey (a stub there that logs each call with WINEDEBUG=fixme+reg):
# a good backup is handed over once per hive, and every damaged folder is
# refused with its reason and without a single RegReplaceKey call. Wine's
# hive list is empty, so the test names the prefix's own hive files in it
# and puts the list back as it found it.
#
# usage: hives_restore_test.sh quenlo-cli.exe
set -uo pipefail
exe=$1
: "${QUENLO_WINEPREFIX:?QUENLO_WINEPREFIX must name the test prefix}"
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
export WINEPREFIX=$QUENLO_WINEPREFIX WINEDLLOVERRIDES="winemenubuilder.exe=d"
work=$(mktemp -d)
base=$WINEPREFIX/drive_c/quenlo-hives-sh
win_base='C:\quenlo-hives-sh'
list_key='HKLM\SYSTEM\CurrentControlSet\Control\hivelist'
list_reg='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\hivelist'
failures=0

quiet() { WINEDEBUG=-all wine "$@"; }
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
dos() { printf 'Z:%s' "${1//\//\\}"; }

# The hive list as found, put back at the end whatever happens.
quiet regedit /e "$(dos "$work/found.reg")" "$list_reg" >/dev/null 2>&1
cleanup() {
  quiet reg delete "$list_key" /f >/dev/null 2>&1
  if [ -s "$work/found.reg" ]; then quiet regedit /s "$(dos "$work/found.reg")" >/dev/null 2>&1; fi
  rm -rf "$base" "$work"
}
trap cleanup EXIT

# Z: is the host's "/" (\Device\HarddiskVolume2 in the prefix).
files='\\Device\\HarddiskVolume2'$(printf '%s' "${WINEPREFIX//\//\\\\}")
sid=$(quiet reg query HKU 2>/dev/null | tr -d '\r' | grep -o 'S-1-5-21[-0-9]*' | head -1)
[ -n "$sid" ] || { echo "no user hive below HKU"; exit 1; }
cat >"$work/seed.reg" <<EOF
REGEDIT4

[$list_reg]
"\\\\REGISTRY\\\\MACHINE\\\\SYSTEM"="$files\\\\system.reg"
"\\\\REGISTRY\\\\MACHINE\\\\SOFTWARE"="$files\\\\system.reg"
"\\\\REGISTRY\\\\USER\\\\.DEFAULT"="$files\\\\userdef.reg"
"\\\\REGISTRY\\\\USER\\\\$sid"="$files\\\\user.reg"
EOF
quiet regedit /s "$(dos "$work/seed.reg")" >/dev/null 2>&1
rm -rf "$base"

quiet "$exe" hives backup "$win_base\\good" >"$work/out" 2>"$work/err"
code=$?
[ $code -eq 0 ] || { echo "backup exited $code"; cat "$work/out" "$work/err"; exit 1; }
hives=$(grep -c ':' "$base/good/hivelist.txt")
[ "$hives" -eq 4 ] || { echo "backup listed $hives hives, not 4"; exit 1; }

# restore FOLDER CODE EXPECTED_CALLS TEXT: runs a restore with Wine's
# registry fixmes on and checks the exit code, the RegReplaceKey calls
# logged and a text of its output.
restore() {
  local folder=$1 want=$2 calls=$3 text=$4
  WINEDEBUG=fixme+reg wine "$exe" hives restore "$win_base\\$folder" >"$work/out" 2>"$work/err"
  local code=$? logged
  logged=$(grep -c 'RegReplaceKey' "$work/err")
  [ $code -eq "$want" ] || fail "$folder: exit code $code, not $want"
  [ "$logged" -eq "$calls" ] || fail "$folder: $logged RegReplaceKey calls, not $calls"
  grep -qF -- "$text" "$work/out" "$work/err" || fail "$folder: no \"$text\" in $(cat "$work/out" "$work/err")"
}

# damaged NAME: a fresh copy of the good folder to damage.
damaged() {
  rm -rf "${base:?}/$1"
  cp -r "$base/good" "$base/$1"
}

damaged truncated
head -c $(($(stat -c %s "$base/good/2") / 2)) "$base/good/2" >"$base/truncated/2"
restore truncated 1 0 "the backup saved"

damaged garbage
head -c "$(stat -c %s "$base/good/2")" /dev/zero | tr '\0' 'x' >"$base/garbage/2"
restore garbage 1 0 "RegLoadKey: "

damaged missing
rm "$base/missing/3"
restore missing 1 0 "3 is missing"

damaged parent
printf '0:HKEY_LOCAL_MACHINE\\..\\SOFTWARE\r\n' >"$base/parent/hivelist.txt"
restore parent 1 0 "is not one key below the root"

damaged parentname
printf '..\\0:HKEY_LOCAL_MACHINE\\SOFTWARE\r\n' >"$base/parentname/hivelist.txt"
restore parentname 1 0 "is not a hive index"

damaged duplicate
printf '1:HKEY_LOCAL_MACHINE\\software\r\n' >>"$base/duplicate/hivelist.txt"
restore duplicate 1 0 "listed twice"

damaged unknownroot
printf '0:HKEY_CLASSES_ROOT\\SOFTWARE\r\n' >"$base/unknownroot/hivelist.txt"
restore unknownroot 1 0 "holds no hives"

damaged otherprefix
sed -i 's/^machine=.*$/machine=0f0f0f0f-0000-4000-8000-000000000000\r/' "$base/otherprefix/backupinfo.txt"
restore otherprefix 1 0 "names another machine"

quiet "$exe" hives compare "$win_base\\good" >"$work/out" 2>"$work/err" || fail "compare: $(cat "$work/out")"

damaged accepted
restore accepted 0 "$hives" "Replaced: 4 of 4"
grep -q 'RegReplaceKeyW (FFFFFFFF80000002,L"SOFTWARE",L"C:\\\\quenlo-hives-sh\\\\accepted\\\\0",L"C:\\\\quenlo-hives-sh\\\\accepted\\\\0.BAK")' "$work/err" ||
  fail "no RegReplaceKey of HKLM\\SOFTWARE with 0 and 0.BAK: $(cat "$work/err")"
# The replacements wait for the restart: the same folder is refused.
restore accepted 1 0 "waiting for a restart"

# The settings page's full backup: made beside the last one and swapped in,
# so that afterwards only "Backup" is left, with its list; its restore
# works on a copy and, once handed over, waits for the restart too.
full_backup() {
  quiet "$exe" hives full-backup --json >"$work/full" 2>"$work/err" || fail "full-backup: $(cat "$work/full" "$work/err")"
}
full_backup
settings_dos=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["folder"].rsplit("\\",1)[0])' "$work/full")
settings_unix=$(WINEDEBUG=-all winepath -u "$settings_dos" 2>/dev/null)
[ -f "$settings_unix/Backup/hivelist.txt" ] || fail "no Backup\\hivelist.txt in $settings_unix"
first_list=$(cat "$settings_unix/Backup/hivelist.txt" 2>/dev/null)
full_backup
[ "$(cat "$settings_unix/Backup/hivelist.txt" 2>/dev/null)" = "$first_list" ] || fail "the second backup's list differs"
for left in NewBackup UndoBackup; do
  [ ! -e "$settings_unix/$left" ] || fail "$left is left after a complete backup"
done
WINEDEBUG=fixme+reg wine "$exe" hives full-restore >"$work/out" 2>"$work/err"
code=$?
[ $code -eq 0 ] || fail "full-restore exited $code: $(cat "$work/out")"
[ "$(grep -c 'RegReplaceKey' "$work/err")" -eq "$hives" ] || fail "full-restore: not $hives RegReplaceKey calls"
WINEDEBUG=fixme+reg wine "$exe" hives full-restore >"$work/out" 2>"$work/err"
[ $? -eq 1 ] || fail "a second full restore before the restart was not refused"
[ "$(grep -c 'RegReplaceKey' "$work/err")" -eq 0 ] || fail "the second full restore handed hives over"
grep -qF "restart Windows" "$work/out" "$work/err" || fail "the refusal does not say why: $(cat "$work/err")"
rm -rf "$settings_unix/Backup" "$settings_unix/Temp"

if [ $failures -ne 0 ]; then echo "hives restore test: $failures failures"; exit 1; fi
echo "hives restore test passed"
