"""Compares the findings of a `quenlo-cli scan --json` run with the seeded ones.

A finding is a row (test, kind, action, view64, root, key path, value name,
target, data). Findings that `is_seeded` claims must be exactly `expected`;
the prefix's own findings must pass `prefix_ok`; the listed categories must
have counted tests. Returns the seeded and other rows, or exits 1.
"""
import sys


def check(data, expected, is_seeded, prefix_ok, counted_categories):
    got, other = set(), []
    for f in data["findings"]:
        row = (f["testId"], f["kind"], f["action"], f["view64"], f["root"], f["keyPath"],
               f["valueName"], f["target"], f["data"])
        if is_seeded(f):
            got.add(row)
        else:
            other.append(row)
    ok = True
    for row in sorted(expected - got, key=str):
        print("missing:", row)
        ok = False
    for row in sorted(got - expected, key=str):
        print("unexpected:", row)
        ok = False
    for row in other:
        if not prefix_ok(row):
            print("unexpected prefix finding:", row)
            ok = False
    stats = {s["category"]: s for s in data["statistics"]}
    for c in counted_categories:
        if stats[c]["testCount"] <= 0:
            print("no tests counted in category", c)
            ok = False
    if not ok:
        sys.exit(1)
    return got, other, stats
