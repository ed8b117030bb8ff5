#!/usr/bin/env bash
# bleachbit-yardstick.sh : what BleachBit, a peer cleaner (Debian's package),
# leaves of the browser profiles the Wine browser clean test uses
# (tests/wine/data/browsers). The profiles go into a temporary home in the
# Linux layouts BleachBit knows (~/.mozilla/firefox, ~/.cache/mozilla/firefox,
# ~/.config/chromium, ~/.cache/chromium), `bleachbit --clean firefox.*
# chromium.*` runs on them, and the script prints, per database, the tables
# that still hold rows, whether the bookmarks survived, and which files still
# hold a visited address in their bytes. Not a test: a measure to compare the
# cleaner's results with. Installs bleachbit with apt-get when missing (root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fixtures=$root/tests/wine/data/browsers
if ! command -v bleachbit >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q bleachbit
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
home=$work/home
stage=$work/stage
mkdir -p "$stage" "$home/.mozilla" "$home/.cache/mozilla" "$home/.config" "$home/.cache/chromium"
tar -xJf "$fixtures/firefox.tar.xz" -C "$stage"
tar -xJf "$fixtures/chromium.tar.xz" -C "$stage"
# Firefox on Linux: the profiles beside profiles.ini, whose paths have no
# "Profiles/"; the cache in ~/.cache.
mv "$stage/roaming/Profiles" "$home/.mozilla/firefox"
for ini in profiles.ini installs.ini; do
  sed 's#=Profiles/#=#; s/\r$//' "$stage/roaming/$ini" >"$home/.mozilla/firefox/$ini"
done
mv "$stage/local/Profiles" "$home/.cache/mozilla/firefox"
mkdir -p "$home/.config/chromium" "$home/.cache/chromium/Default"
mv "$stage/Default" "$home/.config/chromium/Default"
mv "$home/.config/chromium/Default/Cache" "$home/.cache/chromium/Default/Cache"

echo "bleachbit $(dpkg-query -W -f='${Version}' bleachbit 2>/dev/null || bleachbit --version | head -n1)"
HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache \
  bleachbit --clean 'firefox.*' 'chromium.*' >"$work/bleachbit.log" 2>&1 || true
grep -E "^(Disk space|Files deleted|Special operations|Errors)" "$work/bleachbit.log" || tail -n 5 "$work/bleachbit.log"
# BleachBit's own error lines, each once.
grep -iE "error|exception" "$work/bleachbit.log" | grep -vE "^Errors:" | sort -u | head -n 10 || true

python3 - "$home" "$fixtures/manifest.json" <<'PY'
import json, os, sqlite3, sys, urllib.parse
home, manifest = sys.argv[1], json.load(open(sys.argv[2], encoding="utf-8"))
ff, gc = manifest["firefox"], manifest["chromium"]
BOOKKEEPING = {"meta", "sqlite_sequence", "sqlite_stat1", "moz_meta", "moz_anno_attributes"}

def connect(path):
    return sqlite3.connect("file:%s?mode=ro" % urllib.parse.quote(path), uri=True)

def report(label, path):
    if not os.path.exists(path):
        print("%-34s (file removed)" % label)
        return
    con = connect(path)
    held = []
    for (t,) in con.execute("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"):
        if t in BOOKKEEPING:
            continue
        n = con.execute('SELECT count(*) FROM "%s"' % t).fetchone()[0]
        if n:
            held.append("%s %d" % (t, n))
    ok = con.execute("PRAGMA integrity_check").fetchone()[0]
    con.close()
    print("%-34s %s%s" % (label, ", ".join(held) or "no rows", "" if ok == "ok" else "  INTEGRITY " + ok))

profile = os.path.join(home, ".mozilla", "firefox", ff["profile"])
for db in ("places.sqlite", "favicons.sqlite", "cookies.sqlite", "formhistory.sqlite"):
    report("firefox " + db, os.path.join(profile, db))
chromium = os.path.join(home, ".config", "chromium", "Default")
for db in ("History", "Cookies", "Web Data", "Login Data", "Top Sites"):
    report("chromium " + db, os.path.join(chromium, db))

places = os.path.join(profile, "places.sqlite")
if os.path.exists(places):
    con = connect(places)
    marks = con.execute("SELECT p.url, p.visit_count, p.last_visit_date FROM moz_bookmarks b"
                        " JOIN moz_places p ON p.id = b.fk WHERE b.type = 1").fetchall()
    dangling = con.execute("SELECT count(*) FROM moz_bookmarks WHERE fk IS NOT NULL AND fk NOT IN"
                           " (SELECT id FROM moz_places)").fetchone()[0]
    con.close()
    print("firefox bookmark %s: %s; bookmarks pointing at a missing place: %d" %
          (ff["bookmark"], "kept (visits %s, last visit %s)" % marks[0][1:] if
           any(m[0] == ff["bookmark"] for m in marks) else "GONE", dangling))
bookmarks = os.path.join(chromium, "Bookmarks")
kept = os.path.exists(bookmarks) and gc["bookmark"] in open(bookmarks, encoding="utf-8").read()
print("chromium Bookmarks file: %s" % ("kept with %s" % gc["bookmark"] if kept else "GONE"))

needles = set()
for url in ff["visited"] + gc["visited"]:
    parts = urllib.parse.urlsplit(url)
    needles.add((parts.netloc + parts.path).encode())
needles.discard((urllib.parse.urlsplit(ff["bookmark"]).netloc +
                 urllib.parse.urlsplit(ff["bookmark"]).path).encode())
for folder, _, files in os.walk(home):
    for name in sorted(files):
        path = os.path.join(folder, name)
        if os.path.islink(path):
            continue
        data = open(path, "rb").read()
        found = sorted(n.decode() for n in needles if n in data)
        if found:
            print("readable in %s: %s" % (os.path.relpath(path, home), ", ".join(found)))
PY
