#!/usr/bin/env bash
# window_e2e_test.sh QUENLO_EXE DRIVER_EXE : quenlo.exe under Wine on a
# private Xvfb display, driven from outside by the driver as a user would:
# status page, Scan Now, the results (summary and detail view), Repair with
# its prompts answered, the report. Then checks the undo files, the repair
# log (a hostile value name arrives escaped), the settings written, and that
# later starts ("startscan", no argument) leave one running copy and bring
# it to the foreground, that a session end another program refuses leaves it
# running and answering, and that the end of the session ends it.
# Screenshots of every page visited: build/test-logs/screens/*.png.
set -uo pipefail
# shellcheck source=e2e_common.sh
source "$(dirname "$0")/e2e_common.sh" "$@"

start_display

# --- a throwaway prefix with broken entries
bash "$root/scripts/wine-prefix.sh" "$prefix" >/dev/null 2>&1
for view in 32 64; do import_reg "$root/data/demo/com-assoc.reg" "$view"; done
# A startup entry whose value name is markup, pointing to a missing file: the
# repair log must show the name, never run it.
cat >"$work/hostile.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"<script>x</script>&"="C:\\QuenloGone\\hostile.exe"
REG
import_reg "$work/hostile.reg" 64 || fail "could not seed the hostile value"

# --- a program that will refuse the end of the session, started first: the
# session end asks processes in the order of their ids
veto_log=$work/veto.log
bash "$run" "$driver" veto "$(winpath "$veto_log")" 3000 >/dev/null 2>&1 &
veto_pid=$!
wait_until 60 bash "$run" "$driver" vetoready >/dev/null 2>&1 || fail "the veto window did not appear"

# --- the program and the user
start_quenlo "$exe"
rm -rf "$screens"
mkdir -p "$screens"
timeout 1500 bash "$run" "$driver" scenario "$(winpath "$screens")" "$(winpath "$log")"
code=$?
cp "$log" "$screens/driver.log" 2>/dev/null || true
[ $code -eq 0 ] || fail "the driver's scenario failed (exit $code)"
grep -q '^scenario passed' "$log" 2>/dev/null || fail "the scenario did not pass"

# --- later starts leave one running copy and bring it to the foreground:
# the driver takes the foreground with a window of its own, then starts the
# later copy. "startscan" is told nothing by the start decisions, so only the
# start-up broadcast brings the running copy forward.
count_windows() { bash "$run" "$driver" windows 2>/dev/null | tr -d '\r'; }
for argument in startscan ""; do
  # shellcheck disable=SC2086 # no argument at all for the second start
  timeout 150 bash "$run" "$driver" foreground "$(winpath "$exe")" $argument >"$work/fg.log" 2>&1
  code=$?
  tr -d '\r' <"$work/fg.log" >>"$screens/foreground.log"
  case $code in
    0) ;;
    3) echo "note: the foreground cannot be observed on this display (start '${argument}')" ;;
    *) fail "a later start ('${argument}') did not end or did not bring the running copy forward (exit $code)" ;;
  esac
done
n=$(count_windows)
[ "$n" = "1" ] || fail "expected one main window after the later starts, found '$n'"
kill -0 "$quenlo_pid" 2>/dev/null || fail "the first copy is gone after the later starts"

# --- another program refuses the end of the session: the program keeps
# running and answering; what Wine tells the refusing program is logged
bash "$run" "$driver" vetofirst 2>&1 | tr -d '\r' >"$work/order.log" ||
  fail "the refusing program is not asked before quenlo.exe: $(cat "$work/order.log")"
WINEPREFIX=$prefix WINEDEBUG=-all timeout 120 wineboot --end-session >/dev/null 2>&1
code=$?
[ $code -ne 0 ] || fail "the vetoed session end was reported as agreed"
sleep 3
kill -0 "$quenlo_pid" 2>/dev/null || fail "quenlo.exe ended although the session end was refused"
timeout 120 bash "$run" "$driver" responsive >"$work/responsive.log" 2>&1 ||
  { cat "$work/responsive.log"; fail "quenlo.exe does not answer after the refused session end"; }
timeout 60 bash "$run" "$driver" stopveto >/dev/null 2>&1 || fail "the veto window did not close"
wait "$veto_pid" 2>/dev/null || true
tr -d '\r' <"$veto_log" >"$screens/veto.log" 2>/dev/null || true
grep -q 'WM_QUERYENDSESSION' "$screens/veto.log" || fail "the veto window was not asked"
echo "the refusing window saw: $(tr '\n' ';' <"$screens/veto.log")"

# --- the session ends (the large-list test closes the window instead): the
# program agrees, saves its settings and ends
WINEPREFIX=$prefix WINEDEBUG=-all timeout 120 wineboot --end-session >/dev/null 2>&1 ||
  fail "the session end was refused"
wait_until 60 bash -c "! kill -0 $quenlo_pid 2>/dev/null" || fail "quenlo.exe still runs after the session ended"

# --- what the run left in the settings folder
settings="$prefix/drive_c/users/$(whoami)/AppData/Local/Brantel"
[ -d "$settings" ] || fail "no settings folder $settings"
undo_files=$(find "$settings/Undo" -type f \( -name '*.REG' -o -name '*.REG32' -o -name '*.REG64' \) 2>/dev/null | wc -l)
[ "$undo_files" -gt 0 ] || fail "no undo files in $settings/Undo"
find "$settings/Undo" -name index.txt 2>/dev/null | grep -q . || fail "no index.txt in the undo folder"
htm="$settings/repairs.htm"
if [ -f "$htm" ]; then
  grep -qF '&lt;script&gt;x&lt;/script&gt;&amp;' "$htm" || fail "repairs.htm lacks the escaped value name"
  if grep -qF '<script>' "$htm"; then fail "repairs.htm holds a raw <script>"; fi
else
  fail "no repairs.htm"
fi
ini="$settings/quenlo.ini"
if [ -f "$ini" ]; then
  tr -d '\r' <"$ini" >"$work/ini"
  grep -Eq '^last_scan=[0-9]{12}$' "$work/ini" || fail "quenlo.ini has no last_scan stamp"
  grep -Eq '^last_err=[1-9][0-9]*$' "$work/ini" || fail "quenlo.ini has no problem count"
  grep -Eq '^last_repair=[1-9][0-9]*$' "$work/ini" || fail "quenlo.ini has no repair count"
  grep -Eq '^healthstatus=.+' "$work/ini" || fail "quenlo.ini has no statistics"
else
  fail "no quenlo.ini"
fi

# --- the screenshots
python3 "$here/bmp2png.py" "$screens"/*.bmp || fail "could not convert the screenshots"
for page in 01-status 02-scan 03-results-summary 04-results-detail 05-report 06-status-after \
            07-optimizer; do
  [ -s "$screens/$page.png" ] || fail "no screenshot $page.png"
done

if [ $failures -gt 0 ]; then
  echo "window e2e: $failures failure(s)"
  exit 1
fi
echo "window e2e: passed; screenshots in $screens"
