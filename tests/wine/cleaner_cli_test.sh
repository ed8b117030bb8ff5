#!/usr/bin/env bash
# quenlo-cli.exe clean under Wine. Seeds usage traces into the shared test
# prefix - MRU lists, UserAssist, the Search Assistant list, the Start menu
# order, typed URLs, Recent files, temporary files (a subfolder, a read-only
# file, links to a file and a folder outside the temporary folder) and
# Internet Explorer cache files - then:
#  * "clean analyze" lists every seeded item;
#  * a full analysis of the settings' selection leaves the file tree
#    (drive_c: every entry, every file's SHA-256) and HKEY_CURRENT_USER
#    byte-identical (the first full one may let Wine make its URL cache
#    index files, as Windows has them from its first start);
#  * "clean run" removes every seeded item and says it is complete;
#  * a later analysis lists nothing of the cleaned categories, while the
#    files the links point at and the temporary folder itself survive;
#  * the link to a file, which Wine shows as a plain file, and the links to
#    folders, which it shows without a reparse tag, are kept by both modes
#    as links to elsewhere and stay, with what they point at.
#
# usage: cleaner_cli_test.sh quenlo-cli.exe
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
check="python3 $here/cleaner_cli_check.py"
: "${QUENLO_WINEPREFIX:?QUENLO_WINEPREFIX must name the test prefix}"
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
export WINEPREFIX=$QUENLO_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
drive_c=$WINEPREFIX/drive_c
outside=$drive_c/QCleanTestOutside
work=$(mktemp -d)

fail() {
  echo "FAIL: $*"
  exit 1
}
winpath() { echo "Z:${1//\//\\}"; }
unixpath() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }

keys=(
  'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\RunMRU'
  'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU'
  'HKCU\Software\Microsoft\Internet Explorer\TypedURLs'
  'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\UserAssist'
  'HKCU\Software\Microsoft\Search Assistant\ACMru'
  'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2'
  'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\RecentDocs'
)
remove_keys() { for key in "${keys[@]}"; do wine reg delete "$key" /f >/dev/null 2>&1; done; }
cleanup() {
  remove_keys
  rm -rf "$outside"
  [ -n "${temp:-}" ] && rm -rf "$temp"/qcleantest-* "$temp"/QCleanTest*
  [ -n "${recent:-}" ] && rm -f "$recent"/qcleantest-*
  [ -n "${cache:-}" ] && rm -rf "$cache/Content.IE5/QCLEANT1"
  rm -rf "$work"
}
trap cleanup EXIT

# --- where the prefix keeps the user's folders
folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
wine reg query "$folders" >"$work/folders.txt" 2>/dev/null || fail "reg query Shell Folders"
shell_folder() { tr -d '\r' <"$work/folders.txt" | sed -n "s/^ *$1 *REG_SZ *//p"; }
temp=$(unixpath "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')")
recent=$(unixpath "$(shell_folder Recent)")
cache=$(unixpath "$(shell_folder Cache)")
for d in "$temp" "$recent" "$cache"; do
  [ -n "$d" ] && [ -d "$d" ] || fail "a user folder was not found: '$d' (temp '$temp', recent '$recent', cache '$cache')"
done

# --- usage errors come before anything runs
wine "$exe" clean analyze --category 43 >"$work/out" 2>"$work/err"
code=$?
[ $code -eq 2 ] || fail "an unknown category exited $code, not 2"
grep -q "unknown category '43'" "$work/err" || fail "no reason for the unknown category: $(cat "$work/err")"
wine "$exe" clean >"$work/out" 2>&1
code=$?
[ $code -eq 2 ] || fail "clean without analyze or run exited $code, not 2"

# --- the seed
remove_keys
cat >"$work/seed.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\RunMRU]
"a"="qcleantest-run-a\\1"
"b"="qcleantest-run-b\\1"
"MRUList"="ba"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU]
"a"="C:\\qcleantest\\opensave.txt"
"MRUList"="a"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU\txt]
"a"="C:\\qcleantest\\sub.txt"
"MRUList"="a"

[HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\TypedURLs]
"url1"="http://qcleantest.example/typed"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\UserAssist\{0BAD0000-0000-4000-8000-00000C1EA001}\Count]
"HRZR_DPYRNAGRFG"=hex:01,00,00,00,06,00,00,00

[HKEY_CURRENT_USER\Software\Microsoft\Search Assistant\ACMru\5603]
"000"="qcleantest search"

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2\Programs]
"Order"=hex:08,00,00,00,02,00,00,00

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\RecentDocs]
"MRUListEx"=hex:00,00,00,00,ff,ff,ff,ff
"0"=hex:71,00,63,00,00,00
REG
wine regedit /s "$(winpath "$work/seed.reg")" >/dev/null 2>&1 || fail "regedit /s of the seed"

mkdir -p "$outside/dir" "$temp/QCleanTestSub/deeper" "$cache/Content.IE5/QCLEANT1"
echo "must survive the clean" >"$outside/keep.txt"
echo "must survive too" >"$outside/dir/inner.txt"
echo "temp file" >"$temp/qcleantest-a.tmp"
echo "in a subfolder" >"$temp/QCleanTestSub/inner.tmp"
echo "deeper down" >"$temp/QCleanTestSub/deeper/deep.tmp"
echo "read-only" >"$temp/qcleantest-ro.tmp"
chmod a-w "$temp/qcleantest-ro.tmp"
# Wine shows a link to a file as the file itself, without the reparse-point
# attribute, and DeleteFile through it deletes the target: the cleaner
# keeps it ("a link to elsewhere"). The links to folders come later.
ln -s "$outside/keep.txt" "$temp/qcleantest-link.txt"
echo "recent one" >"$recent/qcleantest-doc.txt.lnk"
echo "recent two" >"$recent/qcleantest-two.lnk"
echo "<html>cached</html>" >"$cache/Content.IE5/QCLEANT1/qcleantest-page.htm"
printf 'GIF89a' >"$cache/Content.IE5/QCLEANT1/qcleantest-img.gif"

cat >"$work/expect.json" <<'JSON'
{
  "StartMenuOrderHistory": ["HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu2"],
  "UserAssistHistory": ["HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist"],
  "RunMenuHistory": ["qcleantest-run-b\\1", "qcleantest-run-a\\1"],
  "RecentDocuments": ["qcleantest-doc.txt.lnk", "qcleantest-two.lnk"],
  "OpenSaveHistory": ["C:\\qcleantest\\opensave.txt", "C:\\qcleantest\\sub.txt"],
  "TempFiles": ["qcleantest-a.tmp", "QCleanTestSub\\inner.tmp", "QCleanTestSub\\deeper\\deep.tmp",
                "qcleantest-ro.tmp"],
  "SearchAssistantHistory": ["HKCU\\Software\\Microsoft\\Search Assistant\\ACMru"],
  "IECache": ["*qcleantest-page.htm", "*qcleantest-img.gif"],
  "IETypedURLs": ["http://qcleantest.example/typed"]
}
JSON
cats=()
for c in StartMenuOrderHistory UserAssistHistory RunMenuHistory RecentDocuments OpenSaveHistory \
         TempFiles SearchAssistantHistory IECache IETypedURLs; do cats+=(--category "$c"); done

clean_cli() { # clean_cli NAME ARGS...: the output in $work/NAME.json, the code in $code
  local name=$1
  shift
  wine "$exe" clean "$@" --json >"$work/$name.json" 2>"$work/$name.err"
  code=$?
}

# --- the analysis lists what was seeded
clean_cli analyze1 analyze "${cats[@]}"
[ $code -eq 0 ] || { cat "$work/analyze1.json" "$work/analyze1.err"; fail "the analysis exited $code"; }
$check listed "$work/analyze1.json" "$work/expect.json" || fail "the analysis missed seeded items"
link_kept() { # link_kept JSON: the file link is kept, as a link to elsewhere, and no item
  python3 - "$1" <<'PY'
import json, sys
c = {c["key"]: c for c in json.load(open(sys.argv[1], encoding="utf-8"))["categories"]}["TempFiles"]
kept = [k for k in c["kept"] if k["name"] == "qcleantest-link.txt"]
items = [i for i in c["items"] if i["name"] == "qcleantest-link.txt"]
ok = len(kept) == 1 and kept[0]["reason"] == "a link to elsewhere, left in place" and not items
if not ok:
    print("kept %s, items %s" % (c["kept"], [i["name"] for i in c["items"]]))
sys.exit(0 if ok else 1)
PY
}
link_kept "$work/analyze1.json" || fail "the analysis did not keep the link to a file outside"

# --- a full analysis changes nothing
snapshot() { # snapshot NAME: drive_c and HKCU
  $check snapshot "$drive_c" "$work/tree-$1.txt"
  wine reg export HKCU "$(winpath "$work/hkcu-$1.reg")" /y >/dev/null 2>&1 || fail "reg export HKCU"
}
snapshot a
clean_cli full1 analyze
python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$work/full1.json" ||
  fail "the full analysis wrote no JSON (exit $code): $(cat "$work/full1.err")"
snapshot b
clean_cli full2 analyze
snapshot c
# Wine makes the URL cache's index files and folders when wininet is first
# asked for a container; Windows has them from its first start.
wine_cache='(Content\.IE5|History\.IE5|INetCookies|INetCache|/History)(/|$)'
$check same "$work/tree-a.txt" "$work/tree-b.txt" "$wine_cache" || fail "the first full analysis changed files"
# Wine itself now and then makes and removes a file directly in C:\windows
# (seen once, on a loaded machine, with nothing of it left): the folder's
# own time may change. An entry made in it, or changed, still counts.
$check same "$work/tree-b.txt" "$work/tree-c.txt" '^windows$' || fail "a full analysis changed files"
# Wine's user32 keeps volatile copies of system parameters under this key
# while its server runs; they come and go with the server, not with us.
wine_volatile='HKEY_CURRENT_USER\Software\Wine\Temporary System Parameters'
same_registry() { # same_registry A B: the two exports of HKCU are equal
  $check regsame "$work/hkcu-$1.reg" "$work/hkcu-$2.reg" "$wine_volatile"
}
same_registry a b || fail "the first full analysis changed HKEY_CURRENT_USER"
same_registry b c || fail "the second full analysis changed HKEY_CURRENT_USER"

# --- the clean removes it all, and nothing outside. From here on each
# check is reported and the test goes on, so one run shows every fault.
failures=0
expect() { # expect MESSAGE COMMAND...: counts a failure when COMMAND fails
  local message=$1
  shift
  "$@" || { echo "FAIL: $message"; failures=$((failures + 1)); }
}
absent() { ! [ -e "$1" ] && ! [ -L "$1" ]; }
clean_cli run run "${cats[@]}"
expect "the clean exited $code, not 0" [ $code -eq 0 ]
expect "the clean's report" $check cleaned "$work/run.json" "$work/expect.json"
expect "the clean did not keep the link to a file outside" link_kept "$work/run.json"
clean_cli analyze2 analyze "${cats[@]}"
expect "the analysis after the clean exited $code" [ $code -eq 0 ]
expect "the clean left items behind" $check empty "$work/analyze2.json" "$work/expect.json"

expect "the temporary folder itself was removed" [ -d "$temp" ]
# Wine shows a Unix link to a file as a plain file (no reparse-point
# attribute), and DeleteFile through it deletes the target and leaves the
# link; GetFinalPathNameByHandle of the open file names the target, which
# is how the cleaner tells it apart and leaves it.
expect "the file a link in Temp points at was removed" [ -f "$outside/keep.txt" ]
expect "the link to a file outside was removed" [ -L "$temp/qcleantest-link.txt" ]
for f in qcleantest-a.tmp qcleantest-ro.tmp QCleanTestSub; do
  expect "$f is still in the temporary folder" absent "$temp/$f"
done
expect "a Recent file is still there" absent "$recent/qcleantest-doc.txt.lnk"
expect "a cache file is still there" absent "$cache/Content.IE5/QCLEANT1/qcleantest-page.htm"
expect "the RecentDocs key is still there" \
  bash -c "! wine reg query 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs' >/dev/null 2>&1"
expect "the RunMRU list is still there" \
  bash -c "! wine reg query 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU' /v MRUList >/dev/null 2>&1"

# --- links to folders outside: Wine shows them as folders with the
# reparse-point attribute (0x410) but no reparse tag, and its
# RemoveDirectory looks through a link: it answers "not empty" for a full
# folder and removes an empty one, leaving the link. The clean never enters
# such a link nor removes it: it keeps both, each named as a link to
# elsewhere, and their folders survive.
mkdir -p "$outside/empty"
ln -s "$outside/dir" "$temp/QCleanTestDirLink"
ln -s "$outside/empty" "$temp/QCleanTestEmptyLink"
clean_cli link run --category TempFiles
expect "the clean of folder links exited $code, not 0" [ $code -eq 0 ]
expect "the clean went through the link to a folder" [ -f "$outside/dir/inner.txt" ]
expect "the empty folder a link points at was removed" [ -d "$outside/empty" ]
for link in QCleanTestDirLink QCleanTestEmptyLink; do
  expect "the folder link $link was removed" [ -L "$temp/$link" ]
done
expect "the folder links are not kept as links to elsewhere" python3 - "$work/link.json" <<'PY'
import json, sys
c = json.load(open(sys.argv[1], encoding="utf-8"))["categories"][0]
kept = {k["name"]: k["reason"] for k in c["kept"]}
ok = all(kept.get(n) == "a link to elsewhere, left in place"
         for n in ("QCleanTestDirLink", "QCleanTestEmptyLink")) and not c["failures"]
if not ok:
    print("kept %s, failures %s" % (c["kept"], c["failures"]))
sys.exit(0 if ok else 1)
PY
grep -h "page fault" "$work"/*.err && echo "note: a Wine process crashed during a run (above)"
[ $failures -eq 0 ] || fail "$failures checks failed"
echo "cleaner cli test passed"
