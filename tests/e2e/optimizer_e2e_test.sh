#!/usr/bin/env bash
# optimizer_e2e_test.sh QUENLO_EXE DRIVER_EXE [DPI] : quenlo.exe under Wine and Xvfb,
# driven from outside: the optimizer page and its two tabs (the second one
# reached by keyboard), then Analyze: the question, the progress cover over
# the dimmed screen while the hives are saved (the main window and the
# keyboard off), the analysis dialog with the sizes, cancelled by Escape.
# The cancelled analysis leaves no work folder behind. Screenshots:
# build/test-logs/screens/opt-*.png. With DPI, the display is set to it first
# (the page's layout is checked at every screenshot).
set -uo pipefail
dpi=${3:-}
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"

start_display
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1

# Not a first run: the optimizer page opens without a full scan first.
cat >"$work/seen.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Brantel\Quenlo]
"ProgramWasRun"=dword:00000001
REG
import_reg "$work/seen.reg" 64 || fail "could not mark the program as run"
if [ -n "$dpi" ]; then
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$dpi" \
    >"$work/dpi.reg"
  import_reg "$work/dpi.reg" 64 || fail "could not set the DPI"
fi

# A fresh prefix lists no loaded hives. Windows keeps its hive files in
# system32\config (C: is \Device\HarddiskVolume1); Wine keeps the registry
# elsewhere, so the files are stand-ins with gaps, as large as hives that
# grew over the years: the saved copies come out smaller and the dialog has
# space to show.
config=$prefix/drive_c/windows/system32/config
mkdir -p "$config"
python3 - "$config" <<'PY'
import os, sys
sizes = {"SOFTWARE": 6 << 20, "SYSTEM": 3 << 20, "DEFAULT": 1 << 20}
for name, size in sizes.items():
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(b"regf" + bytes(size - 4))
PY
cat >"$work/hivelist.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\hivelist]
"\\REGISTRY\\MACHINE\\SOFTWARE"="\\Device\\HarddiskVolume1\\windows\\system32\\config\\SOFTWARE"
"\\REGISTRY\\MACHINE\\SYSTEM"="\\Device\\HarddiskVolume1\\windows\\system32\\config\\SYSTEM"
"\\REGISTRY\\USER\\.DEFAULT"="\\Device\\HarddiskVolume1\\windows\\system32\\config\\DEFAULT"
REG
import_reg "$work/hivelist.reg" 64 || fail "could not seed the hive list"
# A software hive of some size, so the analysis takes long enough for the
# cover to be seen and tried with a key.
python3 - "$work/bulk.reg" <<'PY'
import sys
with open(sys.argv[1], "w", encoding="ascii") as f:
    f.write("REGEDIT4\n\n")
    for k in range(200):
        f.write("[HKEY_LOCAL_MACHINE\\Software\\QuenloBulk\\Key%03d]\n" % k)
        for v in range(200):
            f.write('"Value%03d"="C:\\\\Program Files\\\\Bulk\\\\file%05d.dll"\n' % (v, k * 200 + v))
PY
import_reg "$work/bulk.reg" 64 || fail "could not seed the software hive"
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true

start_quenlo "$exe"
mkdir -p "$screens"
timeout 900 bash "$run" "$driver" optimizer "$(winpath "$screens")" "$(winpath "$log")"
code=$?
cp "$log" "$screens/optimizer-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || { cat "$log"; fail "the driver's optimizer run failed (exit $code)"; }
grep -q '^progress cover up' "$log" || fail "the progress cover was not seen"
grep -q '^texts analysis:.*Used Space' "$log" || fail "the analysis dialog showed no sizes"

settings="$prefix/drive_c/users/$(whoami)/AppData/Local/Brantel"
[ ! -e "$settings/Temp" ] || fail "the cancelled analysis left its work folder $settings/Temp"

timeout 120 bash "$run" "$driver" close >/dev/null 2>&1 || fail "the window did not close"
python3 "$here/bmp2png.py" "$screens"/opt-*.bmp || fail "could not convert the screenshots"
for shot in opt-01-performance opt-02-tweaks opt-03-cover opt-04-analysis; do
  [ -s "$screens/$shot.png" ] || fail "no screenshot $shot.png"
done

if [ $failures -gt 0 ]; then
  echo "optimizer e2e: $failures failure(s)"
  exit 1
fi
echo "optimizer e2e: passed; screenshots in $screens"
