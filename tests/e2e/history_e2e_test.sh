#!/usr/bin/env bash
# history_e2e_test.sh QUENLO_EXE DRIVER_EXE [DPI | --browser HOLD_DB_LOCK_EXE]
#
# quenlo.exe under Wine and Xvfb, driven from outside: traces of three
# Windows categories are seeded (two Run dialog entries, temporary files, a
# few and a folder of many, a recent document); on the history page every
# box is cleared and those three ticked; Analyze shows the summary with
# their counts; a double click opens the Run entries' details and Enter on
# ".." comes back; Clean from the summary, with no browser running, asks
# nothing about browsers and ends with the clean result and "Clean history
# completed."; afterwards the traces are gone and what is not history (a
# file beside the temporary folder) is still there.
#
# With --browser, then a real Firefox profile and a Firefox that runs: a
# copy of HOLD_DB_LOCK_EXE named firefox.exe holds places.sqlite's lock as
# the browser does. Clean with Firefox's History and Run Menu ticked asks to
# close Firefox; Abort cleans nothing; Retry asks again, Ignore cleans the
# Run entries and names the locked history, whose file keeps its bytes.
# With the stand-in ended, Analyze lists the profile's visited pages and a
# clean from the summary removes its history and keeps its bookmark.
#
# Screenshots: build/test-logs/screens/history-*.png (a run at another DPI:
# build/test-logs/screens/dpi-DPI/; the page's layout is checked at every
# screenshot).
set -uo pipefail
dpi=
holder=
case "${3:-}" in
  --browser) holder=$(realpath "${4:?--browser needs the hold_db_lock executable}") ;;
  *) dpi=${3:-} ;;
esac
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

fixtures=$root/tests/wine/data/browsers
if [ -n "$holder" ]; then
  appdata=$user_dir/AppData/Roaming
  local_appdata=$user_dir/AppData/Local
  python3 "$root/tests/wine/browser_clean_check.py" unpack "$fixtures" "$appdata" "$local_appdata" \
    "$prefix/drive_c/QBrowserTestDownloads/quenlo-download.txt" >/dev/null ||
    fail "the browser profiles could not be unpacked"
  ff_profile=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["firefox"]["profile"])' \
    "$fixtures/manifest.json")
  places=$appdata/Mozilla/Firefox/Profiles/$ff_profile/places.sqlite
  [ -f "$places" ] || fail "no places.sqlite at $places"
  # Only Firefox is wanted here: the Chrome profile the unpack also makes
  # would only lengthen the passes.
  rm -rf "$local_appdata/Google"
fi
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true

# --- the second scenario: a Firefox that runs
sha() { sha256sum "$1" | cut -d' ' -f1; }
run_mru_left() { # run_mru_left: the seeded Run dialog entries are all there
  local value
  for value in a b MRUList; do
    bash "$run" reg query "$runmru" /v "$value" >/dev/null 2>&1 || return 1
  done
}
stand_in_pid=
stand_in_fd=
# start_stand_in: firefox.exe, holding places.sqlite's lock until a line
# arrives on its input.
start_stand_in() {
  mkdir -p "$work/ff-bin"
  cp "$holder" "$work/ff-bin/firefox.exe"
  mkfifo "$work/ff-hold"
  local places_win
  places_win=$(bash "$run" winepath -w "$places" 2>/dev/null | tr -d '\r')
  bash "$run" "$work/ff-bin/firefox.exe" "$places_win" 120 <"$work/ff-hold" \
    >"$work/ff-hold.out" 2>&1 &
  stand_in_pid=$!
  exec {stand_in_fd}>"$work/ff-hold"
  wait_until 30 grep -q locked "$work/ff-hold.out"
}
stop_stand_in() {
  [ -n "$stand_in_fd" ] || return 0
  echo release >&"$stand_in_fd"
  exec {stand_in_fd}>&-
  stand_in_fd=
  wait "$stand_in_pid" || echo "note: the stand-in exited $?: $(cat "$work/ff-hold.out")"
  stand_in_pid=
}
drive() { # drive COMMAND ARGS...: one driver run; its log kept beside the screenshots
  local command=$1
  shift
  timeout 300 bash "$run" "$driver" "$command" "$(winpath "$screens")" "$(winpath "$work/$command.log")" \
    "$@"
  local code=$?
  cp "$work/$command.log" "$screens/$command-driver.log" 2>/dev/null || true
  [ $code -eq 0 ] || { cat "$work/$command.log"; fail "the driver's $command run failed (exit $code)"; }
  return $code
}

browser_scenario() {
  # A Windows trace again, so that the locked clean has something to remove.
  import_reg "$work/seed.reg" 64 || fail "could not seed the Run dialog entries again"
  local before
  before=$(sha "$places")
  start_stand_in || { fail "the stand-in did not lock places.sqlite: $(cat "$work/ff-hold.out")"; return; }

  local started=$SECONDS
  drive historyabort
  [ "$(sha "$places")" = "$before" ] || fail "places.sqlite changed after Abort"
  run_mru_left || fail "Abort at the applications check still cleaned the Run dialog entries"

  drive historylocked
  [ "$(sha "$places")" = "$before" ] || fail "the locked places.sqlite changed in the clean"
  ! run_mru_left || fail "Ignore at the applications check did not clean the Run dialog entries"
  # The running browser's session file stays with the database it holds.
  [ -e "$(dirname "$places")/sessionstore.jsonlz4" ] ||
    fail "the clean with places.sqlite locked removed Firefox's session file"

  stop_stand_in
  [ "$(sha "$places")" = "$before" ] || fail "places.sqlite changed when the stand-in ended"
  local visited=()
  mapfile -t visited < <(python3 -c '
import json, sys
for url in json.load(open(sys.argv[1]))["firefox"]["visited"]:
    print(url)' "$fixtures/manifest.json")
  drive historyunlocked "${visited[@]}"
  python3 - "$places" "$fixtures/manifest.json" <<'PY' || fail "places.sqlite after the clean"
import json, sqlite3, sys
places, manifest = sys.argv[1], json.load(open(sys.argv[2]))
bookmark = manifest["firefox"]["bookmark"]
con = sqlite3.connect("file:%s?mode=ro" % places, uri=True)
problems = []
if con.execute("PRAGMA integrity_check").fetchone()[0] != "ok":
    problems.append("the database is damaged")
visits = con.execute("SELECT count(*) FROM moz_historyvisits").fetchone()[0]
if visits:
    problems.append("%d visits are left in moz_historyvisits" % visits)
kept = con.execute("SELECT count(*) FROM moz_places p JOIN moz_bookmarks b ON b.fk = p.id"
                   " WHERE p.url = ?", (bookmark,)).fetchone()[0]
if not kept:
    problems.append("the bookmarked place %s is gone" % bookmark)
con.close()
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
PY
  echo "the browser scenario took $((SECONDS - started)) s"
}

[ -z "$dpi" ] || screens=$screens/dpi-$dpi
start_quenlo "$exe"
mkdir -p "$screens"
rm -f "$screens"/history-*.png "$screens"/history-*.bmp
timeout 900 bash "$run" "$driver" history "$(winpath "$screens")" "$(winpath "$log")"
code=$?
cp "$log" "$screens/history-driver.log" 2>/dev/null || true
[ $code -eq 0 ] || { cat "$log"; fail "the driver's history run failed (exit $code)"; }

if [ -n "$holder" ] && [ $failures -eq 0 ]; then
  browser_scenario
fi

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
shots=(history-categories history-summary history-detail history-result)
[ -z "$holder" ] || shots+=(history-browser-prompt history-browser-locked history-browser-detail
  history-browser-result)
for shot in "${shots[@]}"; do
  [ -s "$screens/$shot.png" ] || fail "no screenshot $shot.png"
done

if [ $failures -gt 0 ]; then
  echo "history e2e: $failures failure(s)"
  exit 1
fi
echo "history e2e: passed; screenshots in $screens"
