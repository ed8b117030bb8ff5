"""Checks for browser_clean_test.sh: the real Firefox and Chromium profiles of
tests/wine/data/browsers put into the prefix, what `quenlo-cli clean ...
--json` reports on them, and the databases read back on the host with
Python's sqlite3 after the clean.

  unpack FIXTURES APPDATA LOCAL_APPDATA DOWNLOAD
        the Firefox profiles into APPDATA/Mozilla/Firefox and
        LOCAL_APPDATA/Mozilla/Firefox, Chromium's Default into
        LOCAL_APPDATA/Google/Chrome/User Data/Default with its cookies both at
        the top and in Network/, and a copy as "Profile 1"; the downloaded
        file at the Unix path DOWNLOAD, the downloads of both browsers
        pointed at it (the profiles were made on Linux)
  snapshot OUT ROOT...           every entry below the ROOTs (links not
                                 followed), files with their size and SHA-256,
                                 one a line, the fields split by tabs
  same A B                       two snapshots are equal
  analysis JSON MANIFEST DOWNLOAD_WIN   the analysis lists what the profiles hold
  locked JSON NUMBER...          those categories failed, "database is locked"
  cleaned JSON                   every category ended done or not found
  empty JSON                     an analysis after the clean lists no history
  after MANIFEST APPDATA LOCAL_APPDATA BEFORE AFTER DOWNLOAD
        the databases after the clean: history, cookies, forms and downloads
        gone, the bookmark kept, every database intact, no new file, no
        visited address left in any file's bytes, the downloaded file kept
  sha FILE...                    the SHA-256 of each file (for the lock check)
"""
import hashlib
import json
import os
import shutil
import sqlite3
import stat
import sys
import tarfile
import tempfile
import urllib.parse

CHROME = ("Google", "Chrome", "User Data")
CHROME_PROFILES = ("Default", "Profile 1")
FF_CATEGORIES = range(19, 25)
GC_CATEGORIES = range(25, 31)
REASON_LOCKED = "database is locked"


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def firefox_roaming(appdata):
    return os.path.join(appdata, "Mozilla", "Firefox")


def firefox_local(local):
    return os.path.join(local, "Mozilla", "Firefox")


def chrome_data(local):
    return os.path.join(local, *CHROME)


def windows_path(unix, drive_c):
    """The Windows path of a file below drive_c."""
    return "C:\\" + os.path.relpath(unix, drive_c).replace("/", "\\")


# --- unpack


def touch_missing(names, root):
    """Puts back the empty companions (-wal, -journal) a rewrite removed:
    the profiles have them as the browsers left them."""
    for name in names:
        path = os.path.join(root, name)
        if not os.path.exists(path):
            open(path, "wb").close()


def extract(archive, into):
    with tarfile.open(archive, "r:xz") as tar:
        members = [m for m in tar.getmembers() if m.isfile() or m.isdir()]
        for m in members:
            if m.name.startswith("/") or ".." in m.name.split("/"):
                sys.exit("unpack: unsafe member %s in %s" % (m.name, archive))
        tar.extractall(into, members=members)
        return [m.name for m in members if m.isfile()]


def rewrite(db, statements):
    con = sqlite3.connect(db)
    try:
        with con:
            for sql, values in statements:
                con.execute(sql, values)
    finally:
        con.close()


def unpack(fixtures, appdata, local, download):
    manifest = load(os.path.join(fixtures, "manifest.json"))
    drive_c = download[:download.index("/drive_c/") + len("/drive_c")]
    download_win = windows_path(download, drive_c)
    stage = tempfile.mkdtemp()
    try:
        names = extract(os.path.join(fixtures, "firefox.tar.xz"), os.path.join(stage, "ff"))
        places = os.path.join(stage, "ff", "roaming", "Profiles", manifest["firefox"]["profile"],
                              "places.sqlite")
        uri = "file:///" + urllib.parse.quote(download_win.replace("\\", "/"), safe=":/")
        rewrite(places, [("UPDATE moz_annos SET content = ? WHERE anno_attribute_id IN"
                          " (SELECT id FROM moz_anno_attributes"
                          "  WHERE name = 'downloads/destinationFileURI')", (uri,))])
        touch_missing(names, os.path.join(stage, "ff"))
        names = extract(os.path.join(fixtures, "chromium.tar.xz"), os.path.join(stage, "gc"))
        history = os.path.join(stage, "gc", "Default", "History")
        rewrite(history, [("UPDATE downloads SET current_path = ?, target_path = ?",
                           (download_win, download_win))])
        touch_missing(names, os.path.join(stage, "gc"))

        roaming = firefox_roaming(appdata)
        os.makedirs(os.path.dirname(roaming), exist_ok=True)
        shutil.copytree(os.path.join(stage, "ff", "roaming"), roaming)
        os.makedirs(os.path.dirname(firefox_local(local)), exist_ok=True)
        shutil.copytree(os.path.join(stage, "ff", "local"), firefox_local(local))
        data = chrome_data(local)
        default = os.path.join(data, "Default")
        os.makedirs(data)
        shutil.copytree(os.path.join(stage, "gc", "Default"), default)
        # Chromium on Windows keeps its cookies in Network\; older versions
        # at the top of the profile: both are there.
        os.makedirs(os.path.join(default, "Network"))
        for f in ("Cookies", "Cookies-journal"):
            shutil.copy2(os.path.join(default, f), os.path.join(default, "Network", f))
        shutil.copytree(default, os.path.join(data, "Profile 1"))
    finally:
        shutil.rmtree(stage)
    os.makedirs(os.path.dirname(download), exist_ok=True)
    with open(download, "wb") as f:
        f.write(b"Quenlo test download: a small file the browser saved.\n" * 8)
    print("unpacked; the download is %s" % download_win)
    return True


# --- snapshots


def snapshot(out, roots):
    rows = []
    for root in roots:
        for folder, dirs, files in os.walk(root, followlinks=False):
            dirs.sort()
            for name in sorted(dirs + files):
                path = os.path.join(folder, name)
                st = os.lstat(path)
                if stat.S_ISLNK(st.st_mode):
                    rows.append("L\t%s" % path)
                elif stat.S_ISDIR(st.st_mode):
                    rows.append("D\t%s" % path)
                else:
                    with open(path, "rb") as f:
                        digest = hashlib.sha256(f.read()).hexdigest()
                    rows.append("F\t%s\t%d\t%s" % (path, st.st_size, digest))
    with open(out, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write("\n".join(rows) + "\n")
    return True


def read_snapshot(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        return {line.split("\t")[1]: line for line in f.read().splitlines() if line}


def same(a, b):
    first, second = read_snapshot(a), read_snapshot(b)
    ok = True
    for path in sorted(set(first) | set(second)):
        if first.get(path) != second.get(path):
            print("CHANGED: before %s / after %s" % (first.get(path), second.get(path)))
            ok = False
    return ok


# --- reports


def categories(report):
    return {c["number"]: c for c in report["categories"]}


def names(category):
    return [i["name"] for i in category["items"]]


def analysis(report, manifest, download_win):
    got = categories(load(report))
    manifest = load(manifest)
    ok = True

    def want(number, wanted, what):
        nonlocal ok
        c = got.get(number)
        if c is None:
            print("FAIL: category %d is not in the analysis" % number)
            ok = False
            return
        listed = names(c)
        for w in wanted:
            if w not in listed:
                print("FAIL: category %d (%s, %s) does not list %s %r; it lists %s" %
                      (number, c["outcome"], c["reason"], what, w, listed))
                ok = False

    def want_download(number):
        nonlocal ok
        c = got.get(number, {"items": [], "outcome": "absent", "reason": ""})
        found = [i for i in c["items"] if download_win.lower() in i["name"].lower()]
        if not found:
            print("FAIL: category %d (%s, %s) does not list the download %s; it lists %s" %
                  (number, c["outcome"], c["reason"], download_win, names(c)))
            ok = False
        elif not any(i["size"] == 432 for i in found):
            print("FAIL: category %d lists the download with the size %s, not 432" %
                  (number, [i["size"] for i in found]))
            ok = False

    ff, gc = manifest["firefox"], manifest["chromium"]
    want(19, ff["visited"], "the visit of")
    want(21, ["%s : %s" % (c["host"], c["name"]) for c in ff["cookies"]], "the cookie")
    want(22, [f["field"] for f in ff["form"]], "the form field")
    want_download(23)
    want(25, gc["visited"], "the visit of")
    want(27, ["%s : %s" % (c["host"], c["name"]) for c in gc["cookies"]], "the cookie")
    want(29, ["%s : %s" % (f["field"], f["value"]) for f in gc["form"]], "the form entry")
    want_download(28)
    for number in (20, 26):
        c = got.get(number)
        if not c or not c["items"]:
            print("FAIL: the cache category %d lists nothing (%s)" %
                  (number, c and (c["outcome"], c["reason"])))
            ok = False
    # Both Chromium profiles are read: every visit is listed once for each.
    count = names(got.get(25, {"items": []})).count(gc["visited"][0])
    if count < len(CHROME_PROFILES):
        print("FAIL: %s is listed %d times, not once for each of the %d Chrome profiles" %
              (gc["visited"][0], count, len(CHROME_PROFILES)))
        ok = False
    return ok


def locked(report, numbers):
    got = categories(load(report))
    ok = True
    for number in numbers:
        c = got.get(number)
        if c is None or c["outcome"] != "failed" or c["reason"] != REASON_LOCKED:
            print("FAIL: category %d with its database locked ended %s" %
                  (number, c and (c["outcome"], c["reason"], c["failures"])))
            ok = False
    return ok


def cleaned(report):
    ok = True
    for c in load(report)["categories"]:
        if c["outcome"] not in ("done", "not found") or c["failures"]:
            print("FAIL: category %d (%s) ended %s (%s), failures %s" %
                  (c["number"], c["caption"], c["outcome"], c["reason"], c["failures"]))
            ok = False
    return ok


def empty(report):
    ok = True
    for c in load(report)["categories"]:
        if c["number"] in (20, 26):
            continue  # a cache may hold its own bookkeeping files
        if c["items"]:
            print("FAIL: after the clean, category %d still lists %s" % (c["number"], names(c)))
            ok = False
    return ok


# --- the databases after the clean


def connect(path):
    return sqlite3.connect("file:%s?mode=ro" % urllib.parse.quote(path), uri=True)


def tables(con):
    return {t for (t,) in con.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}


class After:
    def __init__(self):
        self.ok = True

    def fail(self, message):
        print("FAIL: " + message)
        self.ok = False

    def empty_tables(self, path, wanted):
        if not os.path.exists(path):
            return  # a file the clean removed holds nothing
        con = connect(path)
        try:
            have = tables(con)
            for table in wanted:
                if table in have:
                    n = con.execute('SELECT count(*) FROM "%s"' % table).fetchone()[0]
                    if n:
                        self.fail("%s: %s still has %d rows" % (path, table, n))
        finally:
            con.close()

    def firefox(self, profile, manifest):
        places = os.path.join(profile, "places.sqlite")
        self.empty_tables(places, ["moz_historyvisits", "moz_historyvisits_extra",
                                   "moz_inputhistory", "moz_places_metadata",
                                   "moz_places_metadata_search_queries"])
        con = connect(places)
        try:
            rows = con.execute("SELECT url, foreign_count, visit_count, last_visit_date"
                               " FROM moz_places").fetchall()
            for url, foreign, visits, last in rows:
                if foreign == 0:
                    self.fail("places.sqlite keeps the place %s, which nothing refers to" % url)
                elif visits or last:
                    self.fail("the kept place %s still has %s visits, last %s" % (url, visits, last))
            kept = [u for (u,) in con.execute(
                "SELECT p.url FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk")]
            if manifest["bookmark"] not in kept:
                self.fail("the bookmark of %s is gone (bookmarks: %s)" % (manifest["bookmark"], kept))
            dangling = con.execute("SELECT count(*) FROM moz_bookmarks WHERE fk IS NOT NULL AND"
                                   " fk NOT IN (SELECT id FROM moz_places)").fetchone()[0]
            if dangling:
                self.fail("%d bookmarks point at a missing place" % dangling)
            orphans = con.execute("SELECT count(*) FROM moz_origins WHERE id NOT IN"
                                  " (SELECT origin_id FROM moz_places)").fetchone()[0]
            if orphans:
                self.fail("moz_origins keeps %d origins no place has" % orphans)
            downloads = con.execute(
                "SELECT count(*) FROM moz_annos a JOIN moz_anno_attributes n"
                " ON n.id = a.anno_attribute_id WHERE n.name LIKE 'downloads/%'").fetchone()[0]
            if downloads:
                self.fail("places.sqlite keeps %d download annotations" % downloads)
            urls = {u for u, _, _, _ in rows}
        finally:
            con.close()
        favicons = os.path.join(profile, "favicons.sqlite")
        con = connect(favicons)
        try:
            for (url,) in con.execute("SELECT page_url FROM moz_pages_w_icons"):
                if url not in urls:
                    self.fail("favicons.sqlite keeps the page %s of no place" % url)
        finally:
            con.close()
        self.empty_tables(os.path.join(profile, "cookies.sqlite"), ["moz_cookies"])
        self.empty_tables(os.path.join(profile, "formhistory.sqlite"),
                          ["moz_formhistory", "moz_history_to_sources", "moz_sources"])

    def chrome(self, profile):
        self.empty_tables(os.path.join(profile, "History"), [
            "urls", "visits", "visit_source", "visited_links", "content_annotations",
            "context_annotations", "keyword_search_terms", "segments", "segment_usage",
            "clusters", "clusters_and_visits", "cluster_keywords", "cluster_visit_duplicates",
            "downloads", "downloads_url_chains", "downloads_slices"])
        for cookies in ("Cookies", os.path.join("Network", "Cookies")):
            self.empty_tables(os.path.join(profile, cookies), ["cookies"])
        self.empty_tables(os.path.join(profile, "Web Data"), ["autofill", "autocomplete"])
        self.empty_tables(os.path.join(profile, "Login Data"), ["logins"])
        self.empty_tables(os.path.join(profile, "Top Sites"), ["top_sites"])

    def databases_intact(self, files):
        for path in files:
            with open(path, "rb") as f:
                if f.read(16) != b"SQLite format 3\0":
                    continue
            con = connect(path)
            try:
                result = con.execute("PRAGMA integrity_check").fetchall()
            finally:
                con.close()
            if result != [("ok",)]:
                self.fail("%s: integrity_check says %s" % (path, result[:5]))

    def no_new_files(self, before, after):
        first, second = read_snapshot(before), read_snapshot(after)
        for path in sorted(set(second) - set(first)):
            self.fail("a new entry in the profiles: %s" % second[path])

    def unchanged(self, before, after, path):
        first, second = read_snapshot(before), read_snapshot(after)
        if first.get(path) != second.get(path):
            self.fail("%s changed: %s -> %s" % (path, first.get(path), second.get(path)))

    def nothing_readable(self, files, needles):
        for path in files:
            with open(path, "rb") as f:
                data = f.read()
            for needle in needles:
                if needle in data:
                    self.fail("%s still holds %r" % (path, needle.decode()))


def host_path(url):
    parts = urllib.parse.urlsplit(url)
    return (parts.netloc + parts.path).encode()


def after(manifest, appdata, local, before, after_snapshot, download):
    manifest = load(manifest)
    check = After()
    ff, gc = manifest["firefox"], manifest["chromium"]
    roaming = firefox_roaming(appdata)
    check.firefox(os.path.join(roaming, "Profiles", ff["profile"]), ff)
    data = chrome_data(local)
    for profile in CHROME_PROFILES:
        check.chrome(os.path.join(data, profile))
        check.unchanged(before, after_snapshot, os.path.join(data, profile, "Bookmarks"))
    check.no_new_files(before, after_snapshot)
    files = [p for p, row in read_snapshot(after_snapshot).items() if row.startswith("F\t")]
    check.databases_intact(files)
    # Every visited address but the bookmarked one, which the bookmark
    # keeps, and the form's values.
    needles = {host_path(u) for u in ff["visited"] + gc["visited"]} - {host_path(ff["bookmark"])}
    needles |= {f["value"].encode() for f in ff["form"] + gc["form"]}
    check.nothing_readable(files, sorted(needles))
    if not os.path.isfile(download):
        check.fail("the downloaded file %s was deleted" % download)
    return check.ok


def sha(files):
    for path in files:
        with open(path, "rb") as f:
            print("%s %s" % (hashlib.sha256(f.read()).hexdigest(), path))
    return True


def main(argv):
    command, args = argv[1], argv[2:]
    if command == "unpack":
        ok = unpack(*args)
    elif command == "snapshot":
        ok = snapshot(args[0], args[1:])
    elif command == "same":
        ok = same(*args)
    elif command == "analysis":
        ok = analysis(*args)
    elif command == "locked":
        ok = locked(args[0], [int(n) for n in args[1:]])
    elif command == "cleaned":
        ok = cleaned(*args)
    elif command == "empty":
        ok = empty(*args)
    elif command == "after":
        ok = after(*args)
    elif command == "sha":
        ok = sha(args)
    else:
        sys.exit("unknown command %s" % command)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
