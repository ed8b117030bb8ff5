#!/usr/bin/env bash
# settings_e2e_test.sh QUENLO_EXE DRIVER_EXE [DPI] : quenlo.exe under Wine and Xvfb,
# driven from outside: the settings page from the header; on "General" a
# click on the restore point box is in quenlo.ini at once, and "Disabled"
# hides the frequency and enables Save; on "Ignore List" a key chosen by
# keyboard in the key selection dialog becomes the selected row "All" / key
# and a section of ignore.txt, its removal (asked first) takes it out again,
# and a permanent row is refused from the row menu; the monitor page's
# Settings link opens the "Monitor" tab, where a key chosen by clicks is
# added to [MonitoredKeys] and removed again, a number typed over the old
# one is saved and pastes change nothing. Screenshots:
# build/test-logs/screens/settings-*.png (a run at another DPI:
# build/test-logs/screens/dpi-DPI/; the page's layout is checked at every
# screenshot).
set -uo pipefail
dpi=${3:-}
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"

start_display
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1

# Not a first run, and the two keys the dialog is to find.
cat >"$work/seed.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Brantel\Quenlo]
"ProgramWasRun"=dword:00000001

[HKEY_CURRENT_USER\Software\QuenloSettingsTest\Ignored]

[HKEY_CURRENT_USER\Software\QuenloSettingsTest\Watched]
REG
import_reg "$work/seed.reg" 64 || fail "could not seed the prefix"
if [ -n "$dpi" ]; then
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$dpi" \
    >"$work/dpi.reg"
  import_reg "$work/dpi.reg" 64 || fail "could not set the DPI"
fi
# The settings file: one monitored key of the test's own, so that the list
# starts short and known.
settings="$prefix/drive_c/users/$(whoami)/AppData/Local/Brantel"
mkdir -p "$settings"
printf '%s\r\n' '[settings]' 'MonitorPrompt=300' '' '[MonitoredKeys]' \
  'HKEY_CURRENT_USER\Software\QuenloSettingsTest=' >"$settings/quenlo.ini"
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true

[ -z "$dpi" ] || screens=$screens/dpi-$dpi
start_quenlo "$exe"
mkdir -p "$screens"
rm -f "$screens"/settings-*.png "$screens"/settings-*.bmp
timeout 300 bash "$run" "$driver" settings "$(winpath "$screens")" "$(winpath "$log")" \
  "$(winpath "$settings")"
code=$?
cp "$log" "$screens/settings-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || { cat "$log"; fail "the driver's settings run failed (exit $code)"; }
grep -q '^ignore list row .*: All / HKEY_CURRENT_USER\\Software\\QuenloSettingsTest\\Ignored' \
  "$log" || fail "the ignored key was not listed"
grep -q '^permanent row refused' "$log" || fail "a permanent row was not refused"
grep -q '^monitored key row' "$log" || fail "the monitored key was not listed"
grep -q '^paste refused' "$log" || fail "a paste was not refused"

timeout 120 bash "$run" "$driver" close >/dev/null 2>&1 || fail "the window did not close"

# What the files hold once the program has ended: the removed entries gone,
# the test's first key still monitored, the typed number and the box kept.
ini=$(tr -d '\r' <"$settings/quenlo.ini")
section() { awk -v s="[$1]" '/^\[/ { on = ($0 == s); next } on' <<<"$ini"; }
section MonitoredKeys | grep -qx 'HKEY_CURRENT_USER\\Software\\QuenloSettingsTest=\?' ||
  fail "[MonitoredKeys] lost the key it started with"
if section MonitoredKeys | grep -qi 'QuenloSettingsTest\\Watched'; then
  fail "[MonitoredKeys] still holds the removed key"
fi
section settings | grep -qx 'MonitorPrompt=25' || fail "quenlo.ini does not hold MonitorPrompt=25"
section settings | grep -qx 'BackupBeforeScan=0' || fail "quenlo.ini does not hold BackupBeforeScan=0"
if [ -f "$settings/ignore.txt" ] && grep -qi 'QuenloSettingsTest' "$settings/ignore.txt"; then
  fail "ignore.txt still holds the removed key"
fi

python3 "$here/bmp2png.py" "$screens"/settings-*.bmp || fail "could not convert the screenshots"
for shot in settings-01-general settings-02-ignore settings-03-ignore-added settings-05-monitor \
  settings-06-monitor-added settings-key-dialog-keyboard settings-key-dialog-mouse; do
  [ -s "$screens/$shot.png" ] || fail "no screenshot $shot.png"
done

if [ $failures -gt 0 ]; then
  echo "settings e2e: $failures failure(s)"
  exit 1
fi
echo "settings e2e: passed${dpi:+ at $dpi DPI}; screenshots in $screens"
