"""Checks for cleaner_cli_test.sh: what `quenlo-cli clean ... --json` reports,
and snapshots of the prefix's file tree to prove that an analysis changes
nothing.

  snapshot DIR OUT            every entry below DIR (links not followed): kind,
                              size, mode, mtime and, for files, the SHA-256;
                              for links the target
  same A B [ALLOWED_REGEX]    the snapshots are equal; entries whose path
                              matches ALLOWED_REGEX may appear, and folders
                              there may change (printed)
  regsame A B [SKIPPED_KEY]   two exports of a key (regedit's UTF-16 files) hold
                              the same keys and values; keys below SKIPPED_KEY
                              are left out (Wine's volatile bookkeeping)
  listed JSON EXPECT          the analysis lists every expected item
  empty JSON EXPECT           a later analysis lists none of the expected
                              categories' items, and they ended done/not found
  cleaned JSON EXPECT         the clean removed every expected item and
                              reported itself complete

EXPECT is a JSON object {settings key: [item name or "*suffix"]}.
"""
import hashlib
import json
import os
import re
import stat
import sys


def snapshot(root, out):
    rows = []
    for folder, dirs, files in os.walk(root, followlinks=False):
        dirs.sort()
        for name in sorted(dirs + files):
            path = os.path.join(folder, name)
            st = os.lstat(path)
            rel = os.path.relpath(path, root)
            if stat.S_ISLNK(st.st_mode):
                rows.append("L %s -> %s" % (rel, os.readlink(path)))
            elif stat.S_ISDIR(st.st_mode):
                rows.append("D %s %o %d" % (rel, st.st_mode, st.st_mtime_ns))
            else:
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
                rows.append("F %s %o %d %d %s" % (rel, st.st_mode, st.st_size, st.st_mtime_ns, digest))
    with open(out, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write("\n".join(rows) + "\n")


def entry_path(row):
    return row.split(" ", 2)[1]


def same(a, b, allowed=None):
    pattern = re.compile(allowed) if allowed else None
    with open(a, encoding="utf-8", errors="surrogateescape") as f:
        first = set(f.read().splitlines())
    with open(b, encoding="utf-8", errors="surrogateescape") as f:
        second = set(f.read().splitlines())
    ok = True
    for row in sorted(first ^ second):
        side = "before" if row in first else "after "
        # Only what appears (and the folders it appears in) may be allowed:
        # a file that changed or went is never.
        appeared = row in second or row.startswith("D ")
        if pattern and appeared and pattern.search(entry_path(row)):
            print("allowed change (%s): %s" % (side, row))
        else:
            print("CHANGED (%s): %s" % (side, row))
            ok = False
    return ok


def registry_sections(path, skipped):
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8")
    sections, current = {}, None
    for line in text.splitlines():
        if line.startswith("["):
            current = line
            sections[current] = []
        elif current is not None and line:
            sections[current].append(line)
    prefix = "[" + skipped.lower() if skipped else None
    return {k: v for k, v in sections.items() if not (prefix and k.lower().startswith(prefix))}


def regsame(a, b, skipped=None):
    first, second = registry_sections(a, skipped), registry_sections(b, skipped)
    ok = True
    for key in sorted(set(first) | set(second)):
        if first.get(key) != second.get(key):
            print("CHANGED key %s\n  before: %s\n  after:  %s" %
                  (key, first.get(key), second.get(key)))
            ok = False
    return ok


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def categories(report):
    return {c["key"]: c for c in report["categories"]}


def matches(name, wanted):
    return name.endswith(wanted[1:]) if wanted.startswith("*") else name == wanted


def missing_items(category, wanted_names, field="items"):
    names = [i["name"] for i in category[field]]
    return [w for w in wanted_names if not any(matches(n, w) for n in names)]


def listed(report, expect):
    ok = True
    got = categories(report)
    for key, wanted in expect.items():
        if key not in got:
            print("FAIL: category %s not in the report" % key)
            ok = False
            continue
        for w in missing_items(got[key], wanted):
            print("FAIL: %s does not list %r; it lists %s" %
                  (key, w, [i["name"] for i in got[key]["items"]]))
            ok = False
    return ok


def empty(report, expect):
    ok = True
    got = categories(report)
    for key in expect:
        c = got.get(key)
        if c is None:
            print("FAIL: category %s not in the report" % key)
            ok = False
        elif c["items"] or c["outcome"] not in ("done", "not found"):
            print("FAIL: %s still lists %s (outcome %s, failures %s)" %
                  (key, [i["name"] for i in c["items"]], c["outcome"], c["failures"]))
            ok = False
    return ok


def cleaned(report, expect):
    ok = True
    if report["mode"] != "clean":
        print("FAIL: mode %r" % report["mode"])
        ok = False
    if not report["complete"] or report["error"]:
        print("FAIL: the clean is not complete: error %r" % report["error"])
        for c in report["categories"]:
            if c["failures"] or c["outcome"] not in ("done", "not found"):
                print("  %s: %s %r %s" % (c["key"], c["outcome"], c["reason"], c["failures"]))
        ok = False
    got = categories(report)
    for key, wanted in expect.items():
        c = got.get(key)
        if c is None:
            print("FAIL: category %s not in the report" % key)
            ok = False
            continue
        for w in missing_items(c, wanted):
            print("FAIL: %s does not report %r removed; it reports %s" %
                  (key, w, [i["name"] for i in c["items"]]))
            ok = False
    return ok


def main(argv):
    command = argv[1]
    if command == "snapshot":
        snapshot(argv[2], argv[3])
        return 0
    if command == "regsame":
        return 0 if regsame(argv[2], argv[3], argv[4] if len(argv) > 4 else None) else 1
    if command == "same":
        return 0 if same(argv[2], argv[3], argv[4] if len(argv) > 4 else None) else 1
    report, expect = load(argv[2]), load(argv[3])
    check = {"listed": listed, "empty": empty, "cleaned": cleaned}[command]
    return 0 if check(report, expect) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
