#!/usr/bin/env bash
# quenlo-cli.exe clean of real browser profiles under Wine. Puts the Firefox
# and Chromium profiles of tests/wine/data/browsers (made by
# scripts/make-browser-profiles.sh with Debian's browsers) into the shared
# test prefix - Firefox's profiles.ini, installs.ini and profiles in
# APPDATA, its cache in LOCAL_APPDATA; Chrome's "Default" with its cookies
# at the top and in Network\, and a copy as "Profile 1" - then:
#  * "clean analyze" of the Firefox and Chrome categories lists the visited
#    addresses, the cookies, the form fields and the download with its path,
#    and changes no file of the profiles;
#  * with a database held locked by a Windows program (as a running browser
#    holds it), its category fails as locked and the file is unchanged;
#  * "clean run" empties the history, cookie, form and download tables and
#    keeps the bookmarked page and its bookmark, Chrome's "Bookmarks" file
#    and the downloaded file; every database passes integrity_check, no new
#    file appears in the profiles and no visited address stays readable in
#    any file's bytes; a later analysis lists nothing.
#
# usage: browser_clean_test.sh quenlo-cli.exe hold_db_lock.exe
set -uo pipefail
exe=$1
holder=$2
here=$(cd "$(dirname "$0")" && pwd)
fixtures=$here/data/browsers
check="python3 $here/browser_clean_check.py"
: "${QUENLO_WINEPREFIX:?QUENLO_WINEPREFIX must name the test prefix}"
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
export WINEPREFIX=$QUENLO_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
drive_c=$WINEPREFIX/drive_c
downloads=$drive_c/QBrowserTestDownloads
download=$downloads/quenlo-download.txt
work=$(mktemp -d)
holders=()

fail() {
  echo "FAIL: $*"
  exit 1
}
unixpath() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }
remove_profiles() {
  [ -n "${appdata:-}" ] && rm -rf "$appdata/Mozilla/Firefox"
  [ -n "${local_appdata:-}" ] && rm -rf "$local_appdata/Mozilla/Firefox" "$local_appdata/Google/Chrome"
  rm -rf "$downloads"
}
cleanup() {
  for pid in "${holders[@]}"; do kill "$pid" 2>/dev/null; done
  remove_profiles
  rm -rf "$work"
}
trap cleanup EXIT

# --- where the prefix keeps the user's folders
folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
wine reg query "$folders" >"$work/folders.txt" 2>/dev/null || fail "reg query Shell Folders"
shell_folder() { tr -d '\r' <"$work/folders.txt" | sed -n "s/^ *$1 *REG_SZ *//p"; }
appdata=$(unixpath "$(shell_folder AppData)")
local_appdata=$(unixpath "$(shell_folder 'Local AppData')")
for d in "$appdata" "$local_appdata"; do
  [ -n "$d" ] && [ -d "$d" ] || fail "a user folder was not found: '$d' (AppData '$appdata', Local AppData '$local_appdata')"
done
firefox=$appdata/Mozilla/Firefox
chrome="$local_appdata/Google/Chrome/User Data"
roots=("$firefox" "$local_appdata/Mozilla/Firefox" "$chrome")

remove_profiles
$check unpack "$fixtures" "$appdata" "$local_appdata" "$download" || fail "the profiles could not be unpacked"
download_win=$(python3 -c 'import sys; p=sys.argv[1]; print("C:\\" + p[len(sys.argv[2]) + 1:].replace("/", "\\"))' \
  "$download" "$drive_c")
profile=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["firefox"]["profile"])' \
  "$fixtures/manifest.json")

cats=()
for n in $(seq 19 30); do cats+=(--category "$n"); done
clean_cli() { # clean_cli NAME ARGS...: the output in $work/NAME.json, the code in $code
  local name=$1
  shift
  wine "$exe" clean "$@" --json >"$work/$name.json" 2>"$work/$name.err"
  code=$?
  python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$work/$name.json" 2>/dev/null ||
    fail "clean $* wrote no JSON (exit $code): $(head -c 2000 "$work/$name.err")"
}

# From here on each check is reported and the test goes on, so one run
# shows every fault.
failures=0
expect() { # expect MESSAGE COMMAND...: counts a failure when COMMAND fails
  local message=$1
  shift
  "$@" || { echo "FAIL: $message"; failures=$((failures + 1)); }
}

# --- the analysis lists what the profiles hold, and changes nothing
$check snapshot "$work/tree-a.txt" "${roots[@]}"
clean_cli analyze analyze "${cats[@]}"
expect "the analysis exited $code, not 0" [ $code -eq 0 ]
expect "the analysis of the profiles" $check analysis "$work/analyze.json" "$fixtures/manifest.json" "$download_win"
$check snapshot "$work/tree-b.txt" "${roots[@]}"
expect "the analysis changed the profiles" $check same "$work/tree-a.txt" "$work/tree-b.txt"

# --- databases held locked by a running browser: their categories fail
# as locked, and the files keep their bytes.
locked_files=("$firefox/Profiles/$profile/cookies.sqlite" "$firefox/Profiles/$profile/formhistory.sqlite"
              "$chrome/Default/Web Data")
$check sha "${locked_files[@]}" >"$work/locked-before.txt"
hold_fds=()
hold() { # hold FILE: a holder of FILE's lock that lets go at a line on its input (or after 60 s)
  local n=${#holders[@]} fd
  mkfifo "$work/hold-$n"
  wine "$holder" "$(wine winepath -w "$1" 2>/dev/null | tr -d '\r')" 60 <"$work/hold-$n" \
    >"$work/hold-$n.out" 2>&1 &
  holders+=($!)
  exec {fd}>"$work/hold-$n"
  hold_fds+=("$fd")
}
for f in "${locked_files[@]}"; do hold "$f"; done
for i in "${!holders[@]}"; do
  for _ in $(seq 150); do
    grep -q locked "$work/hold-$i.out" 2>/dev/null && break
    kill -0 "${holders[$i]}" 2>/dev/null || break
    sleep 0.1
  done
  grep -q locked "$work/hold-$i.out" ||
    fail "hold_db_lock did not lock ${locked_files[$i]}: $(cat "$work/hold-$i.out")"
done
clean_cli locked run --category 21 --category 22 --category 29
expect "the clean of locked databases exited $code, not 1" [ $code -eq 1 ]
expect "a locked database's category" $check locked "$work/locked.json" 21 22 29
for fd in "${hold_fds[@]}"; do
  echo release >&"$fd"
  exec {fd}>&-
done
for i in "${!holders[@]}"; do
  wait "${holders[$i]}" || echo "note: hold_db_lock of ${locked_files[$i]} exited $?: $(cat "$work/hold-$i.out")"
done
holders=()
$check sha "${locked_files[@]}" >"$work/locked-after.txt"
expect "a locked database changed" diff "$work/locked-before.txt" "$work/locked-after.txt"

# --- the clean
$check snapshot "$work/tree-c.txt" "${roots[@]}"
clean_cli run run "${cats[@]}"
expect "the clean exited $code, not 0" [ $code -eq 0 ]
expect "the clean's report" $check cleaned "$work/run.json"
$check snapshot "$work/tree-d.txt" "${roots[@]}"
expect "the profiles after the clean" $check after "$fixtures/manifest.json" "$appdata" "$local_appdata" \
  "$work/tree-c.txt" "$work/tree-d.txt" "$download"
clean_cli analyze2 analyze "${cats[@]}"
expect "the analysis after the clean" $check empty "$work/analyze2.json"

grep -h "page fault" "$work"/*.err && echo "note: a Wine process crashed during a run (above)"
[ $failures -eq 0 ] || fail "$failures checks failed"
echo "browser clean test passed"
