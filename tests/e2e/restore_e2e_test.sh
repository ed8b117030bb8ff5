#!/usr/bin/env bash
# restore_e2e_test.sh QUENLO_EXE DRIVER_EXE CLI_EXE [DPI] : three App Paths entries
# pointing to missing programs are seeded and repaired with
# "quenlo-cli repair", so that a day of undo backups exists and the values
# are gone. Then quenlo.exe under Wine and Xvfb, driven from outside: the
# restore page from its header button lists the three keys ticked; every
# entry but one is unticked (Select All, a click on a box, Space), Show
# Key's caution is answered Cancel, Restore is answered Yes and ends with
# "Restore completed."; the page then lists the other two unticked.
# Afterwards that one value is back in the registry and the other two are
# still gone, and the purge box ticked on the page is saved in the
# settings file. Screenshots: build/test-logs/screens/restore-*.png (a run at
# another DPI: build/test-logs/screens/dpi-DPI/; the page's layout is
# checked at every screenshot).
set -uo pipefail
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"
cli=$(realpath "$3")
dpi=${4:-}

start_display
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1

app_paths='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\App Paths'
{
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brantel\\Quenlo]\n"ProgramWasRun"=dword:00000001\n'
  for n in 1 2 3; do
    printf '\n[%s\\quenlorestore%d.exe]\n@="C:\\\\QuenloGone\\\\quenlorestore%d.exe"\n' \
      "$app_paths" "$n" "$n"
  done
} >"$work/seed.reg"
import_reg "$work/seed.reg" 64 || fail "could not seed the prefix"
if [ -n "$dpi" ]; then
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$dpi" \
    >"$work/dpi.reg"
  import_reg "$work/dpi.reg" 64 || fail "could not set the DPI"
  screens=$screens/dpi-$dpi
fi

# The value of entry n as reg.exe shows it ("" when it is not set).
value_of() {
  bash "$run" reg query "$app_paths\\quenlorestore$1.exe" /ve 2>/dev/null | tr -d '\r' |
    grep -o 'C:\\QuenloGone\\quenlorestore[0-9]\.exe' || true
}

# The repair leaves one day of backups and takes the three values away.
bash "$run" "$cli" repair --category 17 >"$work/repair.out" 2>"$work/repair.err" ||
  { cat "$work/repair.out" "$work/repair.err"; fail "the repair failed"; }
grep -c '^repaired .*quenlorestore' "$work/repair.out" | grep -qx 3 ||
  { cat "$work/repair.out"; fail "the repair did not repair the three seeded entries"; }
for n in 1 2 3; do
  [ -z "$(value_of "$n")" ] || fail "entry $n still has its value after the repair"
done

start_quenlo "$exe"
mkdir -p "$screens"
rm -f "$screens"/restore-*.png "$screens"/restore-*.bmp "$screens/restore-driver.log"
timeout 300 bash "$run" "$driver" restore "$(winpath "$screens")" "$(winpath "$log")"
code=$?
tr -d '\r' <"$log" >"$screens/restore-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || { cat "$screens/restore-driver.log"; fail "the driver's restore run failed (exit $code)"; }
timeout 120 bash "$run" "$driver" close >/dev/null 2>&1 || fail "the window did not close"

# The one entry restored has its value again; the others are still without.
restored=$(sed -n 's/^restored entry: .*\\quenlorestore\([0-9]\)\.exe$/\1/p' "$screens/restore-driver.log")
if [ -z "$restored" ]; then
  fail "the driver named no restored entry"
else
  for n in 1 2 3; do
    if [ "$n" = "$restored" ]; then
      [ "$(value_of "$n")" = "C:\\QuenloGone\\quenlorestore$n.exe" ] ||
        fail "the restored entry $n did not get its value back"
    else
      [ -z "$(value_of "$n")" ] || fail "entry $n was restored although it was unticked"
    fi
  done
  d=$(bash "$run" "$cli" undo days | tr -d '\r')
  echo "$d" | grep -q $'\t2 Items$' || fail "the day does not keep the two other entries: $d"
fi

# The purge box ticked on the page is in the settings file.
ini="$prefix/drive_c/users/$(whoami)/AppData/Local/Brantel/quenlo.ini"
tr -d '\r' <"$ini" 2>/dev/null | grep -qx 'DeleteAfterWeek=1' ||
  fail "the ticked purge box is not saved as DeleteAfterWeek=1 in quenlo.ini"

python3 "$here/bmp2png.py" "$screens"/restore-*.bmp || fail "could not convert the screenshots"
for shot in restore-01-page restore-02-one-ticked restore-03-after; do
  [ -s "$screens/$shot.png" ] || fail "no screenshot $shot.png"
done

if [ $failures -gt 0 ]; then
  echo "restore e2e: $failures failure(s)"
  exit 1
fi
echo "restore e2e: passed${dpi:+ at $dpi DPI}; screenshots in $screens"
