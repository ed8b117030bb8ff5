#!/usr/bin/env bash
# high_dpi_e2e_test.sh QUENLO_EXE DRIVER_EXE [DPI] : quenlo.exe under Wine and
# Xvfb with the display set to DPI (144 by default): the pages scale (the
# results' summary and detail rows too), their controls stay inside them and
# do not overlap. Screenshots:
# build/test-logs/screens/dpi-*.png.
set -uo pipefail
dpi=${3:-144}
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"

start_display
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$dpi" \
  >"$work/dpi.reg"
import_reg "$work/dpi.reg" 64 || fail "could not set the DPI"
# Problems for the results page to show.
for view in 32 64; do import_reg "$root/data/demo/com-assoc.reg" "$view"; done
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true

start_quenlo "$exe"
mkdir -p "$screens"
timeout 600 bash "$run" "$driver" pages "$(winpath "$screens")" "$(winpath "$log")"
code=$?
cp "$log" "$screens/high-dpi-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || { cat "$log"; fail "the driver's page run failed (exit $code)"; }
timeout 120 bash "$run" "$driver" close >/dev/null 2>&1 || fail "the window did not close"
python3 "$here/bmp2png.py" "$screens"/dpi-*.bmp || fail "no screenshots"

if [ $failures -gt 0 ]; then
  echo "high DPI e2e: $failures failure(s)"
  exit 1
fi
echo "high DPI e2e: passed at $dpi DPI"
