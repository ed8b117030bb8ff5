#!/usr/bin/env bash
# quenlo-cli.exe under Wine, COM and file association categories: seeds broken
# and valid entries into both registry views of the test prefix, scans those
# categories and compares the findings with the expected ones exactly. The
# prefix's own findings are allowed only in the kinds a fresh prefix is known
# to have. The seeded keys are removed again at the end.
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../scripts/wine-run.sh
data=$here/data
work=$(mktemp -d)
trap 'cleanup; rm -rf "$work"' EXIT

# shellcheck source=seeding.sh
source "$here/seeding.sh"
cleanup() { unseed "$data/com_assoc_cleanup.reg"; }

cleanup
seed "$data/com_assoc_seed.reg" "$data/com_assoc_seed64.reg"

args=()
for c in TypeLibrary WindowsAssociations DeepScan CustomControls ApplicationIDs CodePages \
         ContentType Applications FileExtensions; do args+=(--category "$c"); done
scan_json "$exe" "${args[@]}"

PYTHONPATH="$(dirname "$0")" python3 - "$work/out.json" <<'PY' || exit 1
import json, sys
import findings
data = json.load(open(sys.argv[1], encoding="utf-8"))
C = "Software\\Classes\\"
BAD = "{0BAD0000-0000-4000-8000-0000000%s}"
cls, cls64 = C + "CLSID\\" + BAD % "0C1A5", C + "CLSID\\" + BAD % "064C1"
lib = C + "TypeLib\\" + BAD % "071B1" + "\\1.0"
fe = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.quenlotest\\OpenWithList"
ext = "Software\\Microsoft\\Windows\\CurrentVersion\\Extensions"
# (test, kind, action, view64, root, key path, value name, target, data)
expected = {
    (73, 22, 0, 0, "HKLM", lib + "\\0\\win32", "", "C:\\QuenloGone\\broken32.tlb", "QuenloTest Library"),
    (18, 13, 1, 0, "HKLM", cls, "AppID", BAD % "A9910", "QuenloTest Broken Class"),
    (8, 22, 0, 0, "HKLM", cls + "\\InprocServer32", "", "C:\\QuenloGone\\broken.dll", "QuenloTest Broken Class"),
    (13, 14, 2, 0, "HKLM", cls + "\\ProgID", "", "QuenloTest.Missing.1", "QuenloTest Broken Class"),
    (11, 12, 2, 0, "HKLM", cls + "\\TreatAs", "", "", "QuenloTest Broken Class"),
    (17, 19, 0, 0, "HKLM", cls + "\\TypeLib", "", BAD % "071B0", "QuenloTest Broken Class"),
    (8, 22, 0, 1, "HKLM", cls64 + "\\LocalServer32", "", "C:\\QuenloGone\\server64.exe /automation", "QuenloTest Broken 64-bit Class"),
    (9, 17, 0, 1, "HKLM", cls64 + "\\InprocServer32", "", "", "QuenloTest Broken 64-bit Class"),
    (51, 12, 0, 0, "HKLM", C + "Interface\\" + BAD % "017F1" + "\\ProxyStubClsid32", "", BAD % "0DEAD", "IQuenloTestBroken"),
    (3, 20, 1, 0, "HKLM", C + "AppID\\" + BAD % "A9901", "LocalService", "QuenloTestNoSuchService", "QuenloTest App"),
    (41, 14, 1, 0, "HKLM", C + ".quenlotest", "", "QuenloTest.MissingType", ".QUENLOTEST file"),
    (41, 14, 1, 1, "HKLM", C + ".quenlotest64", "", "QuenloTest64.MissingType", ".QUENLOTEST64 file"),
    (40, 17, 0, 0, "HKLM", C + ".quenlotestempty", "", "", ".QUENLOTESTEMPTY file"),
    (24, 10, 0, 0, "HKLM", C + "QuenloTest.File\\DefaultIcon", "", "C:\\QuenloGone\\icon.ico,0", "QuenloTest.File"),
    (44, 12, 0, 0, "HKLM", C + "QuenloTest.File\\ShellEx\\ContextMenuHandlers\\" + BAD % "0CE11", "", BAD % "0CE11", "QuenloTest.File"),
    (68, 21, 0, 0, "HKLM", C + "QuenloTest.File\\Shell\\open\\Command", "", "C:\\QuenloGone\\editor.exe \"%1\"", "QuenloTest.File"),
    (22, 1, 2, 0, "HKLM", C + "MIME\\Database\\Charset\\quenlotest-charset", "AliasForCharset", "quenlotest-nowhere", "quenlotest-charset"),
    (20, 0, 1, 0, "HKLM", C + "MIME\\Database\\Charset\\quenlotest-charset", "Codepage", "REG_DWORD", "quenlotest-charset"),
    (33, 15, 2, 0, "HKLM", C + "MIME\\Database\\Content Type\\application/x-quenlotest", "Extension", ".quenlotest-none", "application/x-quenlotest"),
    (68, 21, 0, 0, "HKLM", C + "Applications\\quenlotest.exe\\shell\\open\\Command", "", "C:\\QuenloGone\\quenlotest.exe \"%1\"", "quenlotest.exe"),
    (29, 25, 9, 0, "HKCU", fe, "MRUList", "abc", ".QUENLOTEST file"),
    (28, 4, 10, 0, "HKCU", fe, "c", "quenlogone.exe", ".QUENLOTEST file"),
    (34, 22, 1, 0, "HKLM", ext, "quenlotest", "C:\\QuenloGone\\viewer.exe ^.quenlotest", "quenlotest"),
    (34, 22, 1, 1, "HKLM", ext, "quenlotest64", "C:\\QuenloGone\\viewer64.exe ^.quenlotest64", "quenlotest64"),
}
def seeded(f):
    text = (f["keyPath"] + f["valueName"] + f["target"] + f["data"]).lower()
    return "quenlo" in text or "0bad0000-" in text or "600d0000-" in text
# What a fresh prefix reports of its own: empty 32-bit class roots, and
# references Wine registers without registering their target.
got, other, stats = findings.check(data, expected, seeded,
                                   lambda row: row[0] in {40, 41, 42, 19, 32},
                                   (1, 2, 3, 4, 5, 6, 7, 8, 18))
print("com/assoc scan: %d seeded findings as expected, %d of the prefix's own" % (len(got), len(other)))
PY
echo "com/assoc scan test passed"
