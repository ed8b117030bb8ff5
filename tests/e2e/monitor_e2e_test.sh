#!/usr/bin/env bash
# monitor_e2e_test.sh QUENLO_EXE DRIVER_EXE [DPI] : quenlo.exe under Wine and
# Xvfb, driven from outside: the monitor page watches the two keys of its
# settings file; Start by keyboard, then known changes to those keys (made
# by the driver through the registry API, from its own process) appear as
# rows with their texts and the counter; the row menu by the menu key and
# Show Key open the registry editor at the row's key; a minimise on the page
# goes to the monitor's tray icon (or, where Wine's shell refuses icons,
# stays minimised with its taskbar button: the log says which); Stop, and a
# change after it is not listed. The list saved as CSV holds the changes, and
# its undo file, played back, puts the values back. Pause counts a change
# without listing it. Screenshots: build/test-logs/screens/mon-*.png (a run
# at another DPI: build/test-logs/screens/dpi-DPI/).
set -uo pipefail
dpi=${3:-}
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"

start_display
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1

# Not a first run, and the two watched keys with a value to delete later.
cat >"$work/seed.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Brantel\Quenlo]
"ProgramWasRun"=dword:00000001

[HKEY_CURRENT_USER\Software\QuenloMonitorTest\Key1]

[HKEY_CURRENT_USER\Software\QuenloMonitorTest\Key2]
"Seed"="planted"
REG
import_reg "$work/seed.reg" 64 || fail "could not seed the prefix"
if [ -n "$dpi" ]; then
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$dpi" \
    >"$work/dpi.reg"
  import_reg "$work/dpi.reg" 64 || fail "could not set the DPI"
fi
# The settings file: only the test's keys are watched (each a key name
# followed by "="), and the change balloon comes after a few changes.
settings="$prefix/drive_c/users/$(whoami)/AppData/Local/Brantel"
mkdir -p "$settings"
printf '%s\r\n' '[settings]' 'MonitorPrompt=2' '' '[MonitoredKeys]' \
  'HKEY_CURRENT_USER\Software\QuenloMonitorTest\Key1=' \
  'HKEY_CURRENT_USER\Software\QuenloMonitorTest\Key2=' >"$settings/quenlo.ini"
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true

[ -z "$dpi" ] || screens=$screens/dpi-$dpi
start_quenlo "$exe"
mkdir -p "$screens"
# What this run writes must not be found from an earlier one. A DPI run
# keeps its own folder, so the runs at both DPIs leave their screenshots
# side by side in whatever order they ran.
rm -f "$screens"/monitor-export.csv "$screens"/monitor-undo.reg "$screens"/mon-*.png \
  "$screens"/mon-*.bmp
timeout 900 bash "$run" "$driver" monitor "$(winpath "$screens")" "$(winpath "$log")" 2 \
  "$(winpath "$exe")"
code=$?
cp "$log" "$screens/monitor-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || { cat "$log"; fail "the driver's monitor run failed (exit $code)"; }
grep -q '^monitor on: 2 Active Watch Points' "$log" || fail "the monitor did not start"
grep -q '^row 3: .*\[Value deleted\]' "$log" || fail "the four changes were not listed"
grep -q '^registry editor open at' "$log" || fail "Show Key opened no registry editor"
if grep -q '^the main window is hidden' "$log"; then
  echo "monitor e2e: the window went to the tray icon"
elif grep -q '^the main window stayed minimised' "$log"; then
  echo "monitor e2e: no tray icon under this Wine; the window stayed minimised"
else
  fail "the minimise on the monitor page did neither"
fi

timeout 120 bash "$run" "$driver" close >/dev/null 2>&1 || fail "the window did not close"

# The CSV export: the header and the four changes, one line each.
csv=$screens/monitor-export.csv
if [ -s "$csv" ]; then
  [ "$(grep -c . "$csv")" -eq 5 ] || fail "the CSV export does not hold a header and 4 changes"
  grep -q 'Subkey / Value' "$csv" || fail "the CSV export has no header row"
  grep -q 'Value deleted.*planted' "$csv" || fail "the CSV export lacks the deleted value"
else
  fail "no CSV export"
fi
# The undo file, played back with the registry editor, puts the values as
# they were before the first listed change: "Colour" gone, "Seed" back.
undo=$screens/monitor-undo.reg
if [ -s "$undo" ]; then
  bash "$run" regedit /s "$(winpath "$undo")" >/dev/null 2>&1 || fail "regedit refused the undo file"
  key='HKCU\Software\QuenloMonitorTest'
  if bash "$run" reg query "$key\Key1" /v Colour >/dev/null 2>&1; then
    fail "the undo file left the created value Colour"
  fi
  bash "$run" reg query "$key\Key2" /v Seed 2>/dev/null | tr -d '\r' | grep -q 'planted' ||
    fail "the undo file did not put Seed back"
else
  fail "no undo file"
fi
python3 "$here/bmp2png.py" "$screens"/mon-*.bmp || fail "could not convert the screenshots"
for shot in mon-00-off mon-01-page mon-02-menu mon-05-stopped; do
  [ -s "$screens/$shot.png" ] || fail "no screenshot $shot.png"
done

if [ $failures -gt 0 ]; then
  echo "monitor e2e: $failures failure(s)"
  exit 1
fi
echo "monitor e2e: passed${dpi:+ at $dpi DPI}; screenshots in $screens"
