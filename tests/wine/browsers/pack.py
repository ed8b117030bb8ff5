"""Packs the profiles make-browser-profiles.sh made into the Wine test's
fixtures: only what the cleaner reads, in the layout the browsers have on
Windows, and a manifest of what the profiles hold (read back from the
databases, so that a visit, cookie or download the browser did not record
stops the script here rather than passing unnoticed).

  pack.py FIREFOX_CONFIG FIREFOX_CACHE CHROMIUM_DIR DRIVE_FF.json DRIVE_CHR.json
          VERSIONS.json BOOKMARK_URL OUT_DIR

FIREFOX_CONFIG holds profiles.ini, installs.ini and the profile folders
(Firefox on Linux keeps them side by side); FIREFOX_CACHE the local folders
with cache2. On Windows the profiles are in a "Profiles" subfolder of
APPDATA\\Mozilla\\Firefox and profiles.ini names them "Profiles/NAME", so the
archive has roaming/profiles.ini, roaming/installs.ini,
roaming/Profiles/NAME/... and local/Profiles/NAME/cache2/....
chromium.tar.xz holds Default/... of the user data folder.
"""
import configparser
import io
import json
import os
import sqlite3
import sys
import tarfile

# Firefox: the databases the cleaner reads and the companions the browser
# left beside them (its write-ahead logs, empty after a clean exit).
FIREFOX_FILES = ["places.sqlite", "places.sqlite-wal", "favicons.sqlite", "favicons.sqlite-wal",
                 "cookies.sqlite", "cookies.sqlite-wal", "formhistory.sqlite",
                 "sessionstore.jsonlz4", "times.json"]
FIREFOX_FOLDERS = ["sessionstore-backups"]
CHROMIUM_FILES = ["History", "History-journal", "Top Sites", "Top Sites-journal", "Web Data",
                  "Web Data-journal", "Login Data", "Login Data-journal", "Cookies",
                  "Cookies-journal", "Bookmarks", "Preferences"]
CHROMIUM_FOLDERS = ["Sessions"]
CACHE_ENTRIES = 3


def fail(message):
    sys.exit("pack.py: " + message)


def rows(db, sql):
    con = sqlite3.connect("file:%s?mode=ro" % db, uri=True)
    try:
        return con.execute(sql).fetchall()
    finally:
        con.close()


class Archive:
    """A tar.xz whose members are sorted, owned by nobody in particular and
    dated by their files, so that a re-made fixture differs only where the
    profiles do."""

    def __init__(self):
        self.members = {}

    def add_file(self, source, name):
        with open(source, "rb") as f:
            self.members[name] = (f.read(), int(os.stat(source).st_mtime))

    def add_text(self, text, name, mtime):
        self.members[name] = (text.encode("utf-8"), mtime)

    def add_folder(self, source, name, limit=None):
        if not os.path.isdir(source):
            return 0
        count = 0
        for entry in sorted(os.listdir(source)):
            path = os.path.join(source, entry)
            if os.path.isfile(path) and not os.path.islink(path):
                if limit is not None and count >= limit:
                    break
                self.add_file(path, name + "/" + entry)
                count += 1
        if count == 0:
            self.members[name + "/"] = (None, int(os.stat(source).st_mtime))
        return count

    def write(self, out):
        with tarfile.open(out, "w:xz", preset=9) as tar:
            for name in sorted(self.members):
                data, mtime = self.members[name]
                info = tarfile.TarInfo(name.rstrip("/"))
                info.mtime = mtime
                info.uname = info.gname = "quenlo"
                if data is None:
                    info.type = tarfile.DIRTYPE
                    info.mode = 0o755
                    tar.addfile(info)
                else:
                    info.size = len(data)
                    info.mode = 0o644
                    tar.addfile(info, io.BytesIO(data))


def windows_ini(source, mtime):
    """profiles.ini / installs.ini with the Windows paths: Profiles/NAME."""
    ini = configparser.ConfigParser(interpolation=None)
    ini.optionxform = str
    ini.read(source, encoding="utf-8")
    for section in ini.sections():
        # [ProfileN] names its folder in Path (Default=1 there is a flag);
        # an installation's section names its profile in Default.
        key = "Path" if section.startswith("Profile") else "Default"
        value = ini[section].get(key)
        if value and ini[section].get("IsRelative", "1") == "1" and "/" not in value:
            ini[section][key] = "Profiles/" + value
    text = io.StringIO()
    ini.write(text, space_around_delimiters=False)
    return text.getvalue().replace("\n", "\r\n"), mtime


def pack_firefox(config, cache, driven, bookmark, out):
    installs = configparser.ConfigParser(interpolation=None)
    installs.read(os.path.join(config, "installs.ini"), encoding="utf-8")
    used = {installs[s]["Default"] for s in installs.sections() if "Default" in installs[s]}
    if len(used) != 1:
        fail("installs.ini names %d profiles, not one" % len(used))
    used = used.pop()
    profiles = configparser.ConfigParser(interpolation=None)
    profiles.read(os.path.join(config, "profiles.ini"), encoding="utf-8")
    names = [profiles[s]["Path"] for s in profiles.sections() if "Path" in profiles[s]]
    archive = Archive()
    for ini in ("profiles.ini", "installs.ini"):
        path = os.path.join(config, ini)
        text, mtime = windows_ini(path, int(os.stat(path).st_mtime))
        archive.add_text(text, "roaming/" + ini, mtime)
    for name in names:
        folder = os.path.join(config, name)
        for f in FIREFOX_FILES:
            if os.path.isfile(os.path.join(folder, f)):
                archive.add_file(os.path.join(folder, f), "roaming/Profiles/%s/%s" % (name, f))
        for d in FIREFOX_FOLDERS:
            archive.add_folder(os.path.join(folder, d), "roaming/Profiles/%s/%s" % (name, d))
    entries = archive.add_folder(os.path.join(cache, used, "cache2", "entries"),
                                 "local/Profiles/%s/cache2/entries" % used, CACHE_ENTRIES)
    archive.add_folder(os.path.join(cache, used, "cache2", "doomed"),
                       "local/Profiles/%s/cache2/doomed" % used)
    if entries == 0:
        fail("Firefox kept no cache entries")

    profile = os.path.join(config, used)
    places = os.path.join(profile, "places.sqlite")
    visited = [u for (u,) in rows(places, "SELECT p.url FROM moz_historyvisits v JOIN moz_places p"
                                          " ON p.id = v.place_id ORDER BY v.id")]
    marked = [u for (u,) in rows(places, "SELECT p.url FROM moz_bookmarks b JOIN moz_places p"
                                         " ON p.id = b.fk WHERE b.type = 1")]
    if bookmark not in marked:
        fail("Firefox did not import the bookmark of %s (it has %s)" % (bookmark, marked))
    downloads = rows(places, "SELECT a.content FROM moz_annos a JOIN moz_anno_attributes n"
                             " ON n.id = a.anno_attribute_id"
                             " WHERE n.name = 'downloads/destinationFileURI'")
    cookies = rows(os.path.join(profile, "cookies.sqlite"),
                   "SELECT host, name FROM moz_cookies ORDER BY host, name")
    fields = rows(os.path.join(profile, "formhistory.sqlite"),
                  "SELECT fieldname, value FROM moz_formhistory ORDER BY fieldname")
    check_recorded("Firefox", driven, visited, cookies, fields, [d for (d,) in downloads])
    archive.write(out)
    return {
        "profiles": names,
        "profile": used,
        "empty_profiles": [n for n in names if n != used],
        "visited": visited,
        "cookies": [{"host": h, "name": n} for h, n in cookies],
        "form": [{"field": f, "value": v} for f, v in fields],
        "download": {"name": driven["download"]["name"], "recorded": downloads[0][0]},
        "bookmark": bookmark,
    }


def pack_chromium(folder, driven, bookmark, out):
    default = os.path.join(folder, "Default")
    archive = Archive()
    for f in CHROMIUM_FILES:
        path = os.path.join(default, f)
        if not os.path.isfile(path):
            fail("Chromium wrote no %s" % f)
        archive.add_file(path, "Default/" + f)
    for d in CHROMIUM_FOLDERS:
        if archive.add_folder(os.path.join(default, d), "Default/" + d) == 0:
            fail("Chromium wrote nothing in %s" % d)
    cache = os.path.join(default, "Cache", "Cache_Data")
    if archive.add_folder(cache, "Default/Cache/Cache_Data", CACHE_ENTRIES + 1) == 0:
        fail("Chromium kept no cache files")

    history = os.path.join(default, "History")
    visited = [u for (u,) in rows(history, "SELECT u.url FROM visits v JOIN urls u"
                                           " ON u.id = v.url ORDER BY v.id")]
    downloads = rows(history, "SELECT target_path FROM downloads")
    cookies = rows(os.path.join(default, "Cookies"),
                   "SELECT host_key, name FROM cookies ORDER BY host_key, name")
    fields = rows(os.path.join(default, "Web Data"),
                  "SELECT name, value FROM autofill ORDER BY name")
    check_recorded("Chromium", driven, visited, cookies, fields, [d for (d,) in downloads])
    with open(os.path.join(default, "Bookmarks"), encoding="utf-8") as f:
        if bookmark not in f.read():
            fail("Chromium's Bookmarks lost %s" % bookmark)
    archive.write(out)
    return {
        "profile": "Default",
        "visited": visited,
        "cookies": [{"host": h, "name": n} for h, n in cookies],
        "form": [{"field": f, "value": v} for f, v in fields],
        "download": {"name": driven["download"]["name"], "recorded": downloads[0][0]},
        "bookmark": bookmark,
    }


def check_recorded(browser, driven, visited, cookies, fields, downloads):
    missing = [u for u in driven["visited"] if u not in visited]
    if missing:
        fail("%s recorded no visit of %s" % (browser, missing))
    if len({h for h, _ in cookies}) < 2:
        fail("%s kept cookies of fewer than two hosts: %s" % (browser, cookies))
    if sorted(f for f, _ in fields) != sorted(driven["form"]):
        fail("%s kept the form fields %s, not %s" % (browser, fields, driven["form"]))
    if len(downloads) != 1 or not downloads[0].endswith(driven["download"]["name"]):
        fail("%s recorded the downloads %s" % (browser, downloads))


def main():
    if len(sys.argv) != 9:
        fail("usage: pack.py FIREFOX_CONFIG FIREFOX_CACHE CHROMIUM_DIR DRIVE_FF.json"
             " DRIVE_CHR.json VERSIONS.json BOOKMARK_URL OUT_DIR")
    ff_config, ff_cache, chromium, ff_json, chr_json, versions, bookmark, out = sys.argv[1:]
    load = lambda p: json.load(open(p, encoding="utf-8"))
    os.makedirs(out, exist_ok=True)
    manifest = {
        "versions": load(versions),
        "firefox": pack_firefox(ff_config, ff_cache, load(ff_json), bookmark,
                                os.path.join(out, "firefox.tar.xz")),
        "chromium": pack_chromium(chromium, load(chr_json), bookmark,
                                  os.path.join(out, "chromium.tar.xz")),
    }
    with open(os.path.join(out, "manifest.json"), "w", encoding="utf-8") as f:
        json.dump(manifest, f, indent=2, sort_keys=True)
        f.write("\n")
    for name in ("firefox.tar.xz", "chromium.tar.xz"):
        print("%s: %d bytes" % (name, os.path.getsize(os.path.join(out, name))))


if __name__ == "__main__":
    main()
