#!/usr/bin/env bash
# large_list_e2e_test.sh QUENLO_EXE DRIVER_EXE [ROWS] : quenlo.exe under Wine
# and Xvfb with ROWS (50,000 by default) missing shared DLLs: after a scan of
# that one category the detail view opens with every row and follows End,
# Page Up, Home and Page Down at once (the list asks only for what it shows).
# Screenshot: build/test-logs/screens/08-large-list.png.
set -uo pipefail
rows=${3:-50000}
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"

start_display
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1
python3 - "$work/many.reg" "$rows" <<'PY'
import sys
path, rows = sys.argv[1], int(sys.argv[2])
with open(path, "w", encoding="ascii") as f:
    f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs]\n")
    for i in range(rows):
        f.write('"C:\\\\QuenloGone\\\\many\\\\lib%06d.dll"=dword:00000001\n' % i)
PY
# The 32-bit view: findings of the 64-bit view are checked against the
# category's earlier findings one by one, which takes minutes at this size.
import_reg "$work/many.reg" 32 || fail "could not seed the shared DLLs"

start_quenlo "$exe"
mkdir -p "$screens"
# Each key must be followed within 2 seconds (Wine on a shared machine).
timeout 2400 bash "$run" "$driver" largelist "$(winpath "$screens")" "$(winpath "$log")" "$rows" 2
code=$?
cp "$log" "$screens/large-list-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || fail "the driver's large-list run failed (exit $code)"
timeout 120 bash "$run" "$driver" close >/dev/null 2>&1 || fail "the window did not close"
python3 "$here/bmp2png.py" "$screens"/08-large-list.bmp || fail "no screenshot"

if [ $failures -gt 0 ]; then
  echo "large list e2e: $failures failure(s)"
  exit 1
fi
echo "large list e2e: passed"
