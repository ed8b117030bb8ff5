#!/usr/bin/env bash
# help_e2e_test.sh QUENLO_EXE DRIVER_EXE QUENLO_CHM
#
# quenlo.exe with its help file, installed together in a folder whose path
# has a blank ("C:\Program Files\Quenlo"), under Wine and Xvfb, driven from
# outside: F1 on the history page and the Help menu's "Help" on the status
# page each open the system's HTML Help viewer (C:\windows\hh.exe, class
# "HH Parent", titled as the help project says) at the page's own topic;
# its table of contents lists the help's topics. The viewer's trace names
# the page it was asked for. Wine has no HTML engine here (no Gecko), so
# the viewer's content pane stays empty; the contents tree is its own.
#
# Screenshots: build/test-logs/screens/help-*.png.
set -uo pipefail
chm=$(realpath "${3:?the third argument is the compiled help file}")
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"

[ -s "$chm" ] || { echo "no help file $chm: build the quenlo_help target"; exit 1; }

start_display
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1
# Not the first run: the first run wants a full scan before the history
# page opens.
cat >"$work/seed.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Brantel\Quenlo]
"ProgramWasRun"=dword:00000001
REG
import_reg "$work/seed.reg" 64 || fail "could not seed the prefix"

install="$prefix/drive_c/Program Files/Quenlo"
mkdir -p "$install"
cp "$exe" "$install/quenlo.exe"
cp "$chm" "$install/quenlo.chm"

mkdir -p "$screens"
rm -f "$screens"/help-*.bmp "$screens"/help-*.png "$screens"/help-*.log
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true

# The viewer, a child of quenlo.exe, inherits the environment: its trace
# (Wine's "htmlhelp" channel) says which file and topic it opened.
started=$SECONDS
WINEPREFIX=$prefix WINEDEBUG=-all,+htmlhelp WINEDLLOVERRIDES="winemenubuilder.exe=d" \
  wine "C:\\Program Files\\Quenlo\\quenlo.exe" >"$work/quenlo.out" 2>&1 &
quenlo_pid=$!

timeout 180 bash "$run" "$driver" help "$(winpath "$screens")" "$(winpath "$log")" "Quenlo Help" \
  "Getting started" "The pages of the window" "Clean History" "Settings" "Scan categories" \
  "How undo works" "Command line"
code=$?
tr -d '\r' <"$log" >"$screens/help-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || fail "the driver's help scenario failed (exit $code)"
grep -q '^scenario passed' "$screens/help-driver.log" 2>/dev/null || fail "the help scenario did not pass"

# Each time the viewer was asked for the page's topic of the help beside
# the program.
grep -a 'navigate_url' "$work/quenlo.out" >"$screens/help-topics.log"
for topic in history.htm status.htm; do
  grep -qF "Program Files\\\\Quenlo\\\\quenlo.chm::/$topic" "$screens/help-topics.log" ||
    fail "the help viewer was not opened at $topic: $(tr '\n' ' ' <"$screens/help-topics.log")"
done
if grep -qa 'Could not find Wine Gecko' "$work/quenlo.out"; then
  echo "note: Wine has no Gecko here: the viewer shows its contents, its page pane stays empty"
fi

timeout 120 bash "$run" "$driver" close >/dev/null 2>&1 || fail "the window did not close"
WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
echo "Wine time of the help test: $((SECONDS - started)) s"

python3 "$here/bmp2png.py" "$screens"/help-*.bmp || fail "could not convert the screenshots"
for shot in help-history help-screen help-status-menu; do
  [ -s "$screens/$shot.png" ] || fail "no screenshot $shot.png"
done

if [ $failures -gt 0 ]; then
  echo "help e2e: $failures failure(s)"
  exit 1
fi
echo "help e2e: passed; screenshots in $screens"
