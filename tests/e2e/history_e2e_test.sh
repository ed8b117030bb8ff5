#!/usr/bin/env bash
# history_e2e_test.sh QUENLO_EXE DRIVER_EXE [DPI] : quenlo.exe under Wine and Xvfb,
# driven from outside: traces of three Windows categories are seeded (two
# Run dialog entries, temporary files, a few and a folder of many, a recent
# document); on the history page every box is cleared and those three
# ticked; Analyze shows the summary with their counts; a double click opens
# the Run entries' details and Enter on ".." comes back; Clean from the
# summary, with no browser running, asks nothing about browsers and ends
# with the clean result and "Clean history completed."; afterwards the
# traces are gone and what is not history (a file beside the temporary
# folder) is still there.
# Screenshots: build/test-logs/screens/history-*.png (a run at another DPI:
# build/test-logs/screens/dpi-DPI/; the page's layout is checked at every
# screenshot).
set -uo pipefail
dpi=${3:-}
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"
# The temporary folder the cleaner empties is the prefix's own (Wine takes
# it from the prefix's registry); no host setting may point it elsewhere.
unset TMP TEMP TMPDIR

start_display
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1

runmru='HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\RunMRU'
cat >"$work/seed.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Brantel\\Quenlo]
"ProgramWasRun"=dword:00000001

[$runmru]
"a"="notepad\\\\1"
"b"="regedit\\\\1"
"MRUList"="ab"
REG
import_reg "$work/seed.reg" 64 || fail "could not seed the prefix"
if [ -n "$dpi" ]; then
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$dpi" \
    >"$work/dpi.reg"
  import_reg "$work/dpi.reg" 64 || fail "could not set the DPI"
fi

# Where this prefix keeps the user's temporary files, as Wine resolves it.
temp_win=$(bash "$run" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp=$(WINEPREFIX=$prefix WINEDEBUG=-all winepath -u "$temp_win" 2>/dev/null)
temp=$(realpath -m "$temp")
case "$temp" in
  "$prefix"/drive_c/*) ;;
  *) echo "the temporary folder \"$temp_win\" ($temp) is not inside the test prefix"; exit 1 ;;
esac
user_dir="$prefix/drive_c/users/$(whoami)"
recent="$user_dir/AppData/Roaming/Microsoft/Windows/Recent"
mkdir -p "$temp/quenlo-e2e" "$recent"
head -c 3000 /dev/zero >"$temp/trace1.tmp"
head -c 5000 /dev/zero >"$temp/trace2.log"
head -c 7000 /dev/zero >"$temp/quenlo-e2e/nested.tmp"
head -c 200 /dev/zero >"$recent/report.txt.lnk"
# Enough small files that a pass lasts long enough for its progress to be
# seen (and the page's layout with the bar checked).
mkdir -p "$temp/quenlo-bulk"
for i in $(seq 1 1500); do printf 'bulk %d\n' "$i" >"$temp/quenlo-bulk/file$i.tmp"; done
# Not history: the folder beside the temporary one.
echo "keep me" >"$temp/../keep.txt"
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true

[ -z "$dpi" ] || screens=$screens/dpi-$dpi
start_quenlo "$exe"
mkdir -p "$screens"
rm -f "$screens"/history-*.png "$screens"/history-*.bmp
timeout 900 bash "$run" "$driver" history "$(winpath "$screens")" "$(winpath "$log")"
code=$?
cp "$log" "$screens/history-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || { cat "$log"; fail "the driver's history run failed (exit $code)"; }

timeout 120 bash "$run" "$driver" close >/dev/null 2>&1 || fail "the window did not close"
WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true

# The traces are gone, the temporary folder itself and its neighbour stay.
for trace in "$temp/trace1.tmp" "$temp/trace2.log" "$temp/quenlo-e2e" "$temp/quenlo-bulk" \
  "$recent/report.txt.lnk"; do
  [ ! -e "$trace" ] || fail "the clean left $trace"
done
[ -d "$temp" ] || fail "the clean removed the temporary folder itself"
[ -f "$temp/../keep.txt" ] || fail "the clean removed a file outside the temporary folder"
for value in a b MRUList; do
  if bash "$run" reg query "$runmru" /v "$value" >/dev/null 2>&1; then
    fail "the Run dialog entry \"$value\" is still there"
  fi
done

python3 "$here/bmp2png.py" "$screens"/history-*.bmp || fail "could not convert the screenshots"
for shot in history-categories history-summary history-detail history-result; do
  [ -s "$screens/$shot.png" ] || fail "no screenshot $shot.png"
done

if [ $failures -gt 0 ]; then
  echo "history e2e: $failures failure(s)"
  exit 1
fi
echo "history e2e: passed; screenshots in $screens"
