#!/usr/bin/env bash
# quenlo-cli.exe under Wine, software, start menu, reference and history
# categories: seeds broken and valid entries (both registry views where the
# key is per view), files and shortcuts into the test prefix, scans those
# categories and compares the findings with the expected ones exactly. The
# prefix's own findings are allowed only in the kinds a fresh prefix is known
# to have. Everything seeded is removed again at the end.
#
# usage: software_scan_test.sh quenlo-cli.exe make_shortcut.exe
set -uo pipefail
exe=$1
make_shortcut=$2
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../scripts/wine-run.sh
: "${QUENLO_WINEPREFIX:?QUENLO_WINEPREFIX must name the test prefix}"
drive_c=$QUENLO_WINEPREFIX/drive_c
user_dir=$drive_c/users/$(whoami)
common_programs="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
work=$(mktemp -d)
trap 'cleanup; rm -rf "$work"' EXIT

# shellcheck source=seeding.sh
source "$here/seeding.sh"

# The seed files: software_seed.reg goes into both views, software_seed64.reg
# into the 64-bit view only, software_cleanup.reg takes both out again.
python3 - "$work" "$(whoami)" <<'PY'
import sys, os
work, user = sys.argv[1], sys.argv[2]
CV = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion"
UCV = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion"
CCS = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet"
def q(s): return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'
def slow_info(path):
    rec = bytearray(552)
    rec[4] = 1
    raw = path.encode("utf-16-le")
    rec[28:28 + len(raw)] = raw
    return "hex:" + ",".join("%02x" % b for b in rec)
seed = {  # key -> [(name, data as .reg text)]
    CV + r"\Run": [("QuenloTestGood", q(r"C:\QuenloTest\tool.exe /min")),
                   ("QuenloTestGone", q(r"C:\QuenloGone\tool.exe /min"))],
    UCV + r"\Run": [("QuenloTestUserGone", q(r'"C:\QuenloGone\user tool.exe" -x'))],
    CV + r"\App Paths\quenlotest1.exe": [("", q(r"C:\QuenloTest\tool.exe"))],
    CV + r"\App Paths\quenlotest2.exe": [("Path", q(r"C:\QuenloTest;C:\QuenloGone"))],
    CV + r"\App Paths\quenlotest3.exe": [("", q(r"C:\QuenloGone\quenlotest3.exe"))],
    CV + r"\App Paths\quenlotest4.exe": [("", q(r"C:\QuenloGone\old.exe")),
                                         ("Path", q(r"C:\QuenloTest"))],
    CV + r"\SharedDLLs": [(r"C:\QuenloGone\shared.dll", "dword:00000001"),
                          (r"C:\QuenloTest\tool.exe", "dword:00000002")],
    r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Fonts": [
        ("QuenloTest Gone (TrueType)", q(r"C:\QuenloGone\gone.ttf")),
        ("QuenloTest Good (TrueType)", q(r"C:\QuenloTest\good.ttf"))],
    CV + r"\Uninstall\QuenloTestBroken": [
        ("DisplayName", q("QuenloTest Broken")), ("InstallSource", q("C:\\QuenloGone\\")),
        ("DisplayIcon", q(r"C:\QuenloGone\app.exe,0")),
        ("UninstallString", q(r"C:\QuenloGone\unins.exe /x"))],
    CV + r"\Uninstall\QuenloTestComponent": [
        ("InstallSource", q("R:\\setup\\")), ("DisplayIcon", q(r"C:\QuenloTest\tool.exe,0")),
        ("UninstallString", q(r"C:\QuenloGone\unins.exe")), ("SystemComponent", "dword:00000001")],
    CV + r"\Uninstall\QuenloTestNoRemove": [
        ("DisplayIcon", q(r"C:\QuenloGone\app.exe")),
        ("UninstallString", q(r"C:\QuenloGone\unins.exe")), ("NoRemove", "dword:00000001")],
    CV + r"\Uninstall\QuenloTestGood": [
        ("UninstallString", q(r'"C:\QuenloTest\tool.exe" /uninstall'))],
    CV + r"\Uninstall\QuenloTestQuiet": [
        ("QuietUninstallString", q(r"C:\QuenloGone\q.exe /quiet"))],
    CV + r"\App Management\ARPCache\QuenloTestArp": [
        ("SlowInfoCache", slow_info("C:\\QuenloGone\\arp.exe\0"))],
    CV + r"\App Management\ARPCache\QuenloTestArpShort": [
        ("SlowInfoCache", "hex:" + ",".join(["01"] * 100))],
    CV + r"\Installer\Folders": [("C:\\QuenloGone\\InstFolder\\", q("")),
                                 ("C:\\QuenloTest\\", q(""))],
    r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\Help": [
        ("quenlotest.hlp", q("C:\\QuenloGone\\"))],
    r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\HTML Help": [
        ("quenlotest.chm", q(r"C:\QuenloTest")), ("quenlogone.chm", q(r"C:\QuenloTest"))],
    CCS + r"\Control\Session Manager\KnownDLLs": [("quenlotest", q("quenlogone.dll"))],
    CCS + r"\Services\VXD\QuenloTest": [("StaticVxD", q(r"C:\QuenloGone\q.vxd"))],
    CCS + r"\Control\InstalledFiles": [("quenlotest", q(r"C:\QuenloGone\inst.sys"))],
    UCV + r"\Explorer\Shell Folders": [("QuenloTest", q(r"C:\QuenloGone\Folder"))],
    r"HKEY_CURRENT_USER\Software\Microsoft\Windows\ShellNoRoam\MUICache": [
        (r"C:\QuenloGone\app.exe", q("QuenloTest App")),
        (r"@C:\QuenloGone\res.dll,-5", q("QuenloTest Res")),
        (r"C:\QuenloTest\tool.exe", q("QuenloTest Tool")), ("LangID", q("quenlo"))],
    UCV + r"\Explorer\MenuOrder\Start Menu\Programs\QuenloTestMenu": [],
    UCV + r"\Explorer\MenuOrder\Start Menu\Programs\QuenloTestGoneMenu\Sub": [],
    UCV + r"\Explorer\MenuOrder\Start Menu2\Programs\QuenloTestMenu\Gone2": [],
    UCV + r"\Explorer\ComDlg32\OpenSaveMRU\quenlotest": [
        ("MRUList", q("abc")), ("a", q(r"C:\QuenloTest\doc.txt")),
        ("b", q(r"C:\QuenloGone\doc.txt"))],
    UCV + r"\Explorer\RunMRU": [
        ("MRUList", q("abc")), ("a", q("notepad\\1")), ("b", q("C:\\QuenloGone\\run.exe\\1")),
        ("c", q("cmd /k\\1"))],
    UCV + r"\Applets\Paint\Recent File List": [
        ("File1", q(r"C:\QuenloGone\pic.bmp")), ("File2", q(r"C:\QuenloTest\doc.txt")),
        ("MaxFiles", "dword:00000004")],
    UCV + r"\Applets\Wordpad\Recent File List": [("File1", q(r"C:\QuenloGone\doc.rtf"))],
    r"HKEY_CURRENT_USER\Software\QuenloTest\References": [
        ("Gone", q(r"C:\QuenloGone\ref.dll")), ("List", q(r"C:\QuenloGone\a.dll;C:\QuenloTest")),
        ("Good", q(r"C:\QuenloTest\tool.exe -x"))],
}
seed64 = {
    CV + r"\Run": [("QuenloTestGone64", q(r"C:\QuenloGone\tool64.exe"))],
    CV + r"\Uninstall\QuenloTestBroken64": [("UninstallString", q(r"C:\QuenloGone\unins64.exe"))],
}
# Keys a fresh prefix does not have are removed whole; in the others only
# what was added.
whole = [CV + r"\App Paths\quenlotest%d.exe" % n for n in range(1, 5)] + [
    CV + r"\SharedDLLs", CV + r"\App Management", CV + r"\Installer\Folders",
    r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\Help",
    r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\HTML Help",
    CCS + r"\Services\VXD\QuenloTest", CCS + r"\Control\InstalledFiles",
    CCS + r"\Control\Session Manager\KnownDLLs",
    r"HKEY_CURRENT_USER\Software\Microsoft\Windows\ShellNoRoam",
    UCV + r"\Explorer\MenuOrder", UCV + r"\Explorer\ComDlg32", UCV + r"\Explorer\RunMRU",
    UCV + r"\Applets", r"HKEY_CURRENT_USER\Software\QuenloTest"] + [
    CV + r"\Uninstall\QuenloTest" + n
    for n in ("Broken", "Component", "NoRemove", "Good", "Quiet", "Broken64")]
def write(name, entries):
    with open(os.path.join(work, name), "w", encoding="utf-8") as f:
        f.write("REGEDIT4\n\n")
        for key, values in entries.items():
            f.write("[%s]\n" % key)
            for n, d in values:
                f.write("%s=%s\n" % ("@" if n == "" else q(n), d))
            f.write("\n")
write("software_seed.reg", seed)
write("software_seed64.reg", seed64)
with open(os.path.join(work, "software_cleanup.reg"), "w", encoding="utf-8") as f:
    f.write("REGEDIT4\n\n")
    for key in whole:
        f.write("[-%s]\n\n" % key)
    for key, values in list(seed.items()) + list(seed64.items()):
        if any(key.startswith(w) for w in whole): continue
        f.write("[%s]\n" % key)
        for n, _ in values: f.write("%s=-\n" % q(n))
        f.write("\n")
PY

cleanup() {
  unseed "$work/software_cleanup.reg"
  rm -rf "$drive_c/QuenloTest" "$common_programs/QuenloTestMenu" \
    "$user_dir/Desktop/QuenloTest Good.lnk" "$user_dir/Desktop/QuenloTest Gone.lnk" \
    "$user_dir/Desktop/QuenloTest Sub"
}

cleanup
seed "$work/software_seed.reg" "$work/software_seed64.reg"
mkdir -p "$drive_c/QuenloTest" "$common_programs/QuenloTestMenu" "$user_dir/Desktop/QuenloTest Sub"
for f in tool.exe doc.txt good.ttf quenlotest.chm quenlotest4.exe; do
  echo "quenlo test file" >"$drive_c/QuenloTest/$f"
done
desktop="C:\\users\\$(whoami)\\Desktop"
for link in "QuenloTest Good.lnk|C:\\QuenloTest\\tool.exe" "QuenloTest Gone.lnk|C:\\QuenloGone\\app.exe" \
            "QuenloTest Sub\\Deep.lnk|C:\\QuenloGone\\deep.exe"; do
  bash "$run" "$make_shortcut" "$desktop\\${link%%|*}" "${link#*|}" >/dev/null 2>&1 ||
    { echo "shortcut ${link%%|*} could not be made"; exit 1; }
done

args=()
for c in 0 9 10 11 12 13 14 15 16 17 19 20 21 22 23; do args+=(--category "$c"); done
scan_json "$exe" "${args[@]}"

PYTHONPATH="$(dirname "$0")" python3 - "$work/out.json" "$(whoami)" <<'PY' || exit 1
import json, sys
import findings
data = json.load(open(sys.argv[1], encoding="utf-8"))
user = sys.argv[2]
CV = "Software\\Microsoft\\Windows\\CurrentVersion"
CCS = "System\\CurrentControlSet"
UN = CV + "\\Uninstall\\"
ORDER = CV + "\\Explorer\\MenuOrder\\"
MUI = "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache"
DESK = "C:\\users\\%s\\Desktop\\" % user
REF = "Software\\QuenloTest\\References"
# (test, kind, action, view64, root, key path, value name, target, data)
expected = {
    (72, 22, 1, 0, "HKLM", CV + "\\Run", "QuenloTestGone", "C:\\QuenloGone\\tool.exe /min", "QuenloTestGone"),
    (72, 22, 1, 1, "HKLM", CV + "\\Run", "QuenloTestGone64", "C:\\QuenloGone\\tool64.exe", "QuenloTestGone64"),
    (72, 22, 1, 0, "HKCU", CV + "\\Run", "QuenloTestUserGone", "\"C:\\QuenloGone\\user tool.exe\" -x", "QuenloTestUserGone"),
    (4, 24, 3, 0, "HKLM", CV + "\\App Paths\\quenlotest2.exe", "Path", "C:\\QuenloGone", "quenlotest2.exe"),
    (5, 22, 1, 0, "HKLM", CV + "\\App Paths\\quenlotest3.exe", "", "C:\\QuenloGone\\quenlotest3.exe", "quenlotest3.exe"),
    (66, 7, 1, 0, "HKLM", CV + "\\SharedDLLs", "C:\\QuenloGone\\shared.dll", "", "shared.dll"),
    (82, 26, 1, 0, "HKLM", "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", "QuenloTest Gone (TrueType)", "C:\\QuenloGone\\gone.ttf", "QuenloTest Gone (TrueType)"),
    (77, 22, 1, 0, "HKLM", UN + "QuenloTestBroken", "InstallSource", "C:\\QuenloGone\\", "QuenloTest Broken"),
    (78, 10, 1, 0, "HKLM", UN + "QuenloTestBroken", "DisplayIcon", "C:\\QuenloGone\\app.exe,0", "QuenloTest Broken"),
    (79, 22, 0, 0, "HKLM", UN + "QuenloTestBroken", "UninstallString", "C:\\QuenloGone\\unins.exe /x", "QuenloTest Broken"),
    (80, 22, 0, 0, "HKLM", UN + "QuenloTestQuiet", "QuietUninstallString", "C:\\QuenloGone\\q.exe /quiet", "QuenloTestQuiet"),
    (79, 22, 0, 1, "HKLM", UN + "QuenloTestBroken64", "UninstallString", "C:\\QuenloGone\\unins64.exe", "QuenloTestBroken64"),
    (7, 22, 0, 0, "HKLM", CV + "\\App Management\\ARPCache\\QuenloTestArp", "SlowInfoCache", "C:\\QuenloGone\\arp.exe", "QuenloTestArp"),
    (49, 22, 1, 0, "HKLM", CV + "\\Installer\\Folders", "C:\\QuenloGone\\InstFolder\\", "C:\\QuenloGone\\InstFolder\\", "Installer Folder"),
    (59, 22, 1, 0, "HKCU", MUI, "C:\\QuenloGone\\app.exe", "C:\\QuenloGone\\app.exe", "QuenloTest App"),
    (58, 11, 1, 0, "HKCU", MUI, "@C:\\QuenloGone\\res.dll,-5", "@C:\\QuenloGone\\res.dll,-5", "QuenloTest Res"),
    (45, 8, 1, 0, "HKLM", "Software\\Microsoft\\Windows\\Help", "quenlotest.hlp", "C:\\QuenloGone\\", "quenlotest.hlp"),
    (45, 8, 1, 0, "HKLM", "Software\\Microsoft\\Windows\\HTML Help", "quenlogone.chm", "C:\\QuenloTest", "quenlogone.chm"),
    (65, 22, 1, 0, "HKLM", CCS + "\\Control\\Session Manager\\KnownDLLs", "quenlotest", "quenlogone.dll", "quenlotest"),
    (81, 22, 1, 0, "HKLM", CCS + "\\Services\\VXD\\QuenloTest", "StaticVxD", "C:\\QuenloGone\\q.vxd", "QuenloTest"),
    (48, 22, 1, 0, "HKLM", CCS + "\\Control\\InstalledFiles", "quenlotest", "C:\\QuenloGone\\inst.sys", "quenlotest"),
    (69, 22, 1, 0, "HKCU", CV + "\\Explorer\\Shell Folders", "QuenloTest", "C:\\QuenloGone\\Folder", "QuenloTest"),
    (71, 6, 0, 0, "HKCU", ORDER + "Start Menu\\Programs\\QuenloTestGoneMenu", "", "", "QuenloTestGoneMenu"),
    (71, 6, 0, 0, "HKCU", ORDER + "Start Menu2\\Programs\\QuenloTestMenu\\Gone2", "", "", "QuenloTestMenu\\Gone2"),
    (70, 29, 11, 0, "", DESK + "QuenloTest Gone.lnk", "", "C:\\QuenloGone\\app.exe", "QuenloTest Gone.lnk"),
    (70, 29, 11, 0, "", DESK + "QuenloTest Sub\\Deep.lnk", "", "C:\\QuenloGone\\deep.exe", "Deep.lnk"),
    (56, 22, 10, 0, "HKCU", CV + "\\Explorer\\ComDlg32\\OpenSaveMRU\\quenlotest", "b", "C:\\QuenloGone\\doc.txt", "OpenSaveMRU\\quenlotest"),
    (57, 25, 9, 0, "HKCU", CV + "\\Explorer\\ComDlg32\\OpenSaveMRU\\quenlotest", "MRUList", "abc", "OpenSaveMRU\\quenlotest"),
    (63, 22, 10, 0, "HKCU", CV + "\\Explorer\\RunMRU", "b", "C:\\QuenloGone\\run.exe\\1", "RunMRU"),
    (62, 22, 1, 0, "HKCU", CV + "\\Applets\\Paint\\Recent File List", "File1", "C:\\QuenloGone\\pic.bmp", "Paint Recent File List"),
    (62, 22, 1, 0, "HKCU", CV + "\\Applets\\Wordpad\\Recent File List", "File1", "C:\\QuenloGone\\doc.rtf", "Wordpad Recent File List"),
    (47, 22, 1, 0, "HKCU", REF, "Gone", "C:\\QuenloGone\\ref.dll", "Gone"),
    (47, 24, 3, 0, "HKCU", REF, "List", "C:\\QuenloGone\\a.dll", "List"),
}
def seeded(f):
    text = (f["keyPath"] + f["valueName"] + f["target"] + f["data"]).lower()
    return "quenlo" in text
# A fresh prefix lists bitmap fonts whose files Wine keeps outside the
# Windows folders, and a few service and DirectMusic paths it registers
# without installing the files.
def prefix_ok(row):
    return row[0] == 47 or (row[0] == 82 and row[7].lower().endswith(".fon"))
got, other, stats = findings.check(data, expected, seeded, prefix_ok,
                                   (0, 9, 10, 12, 13, 14, 15, 16, 17, 19, 20, 21, 22, 23))
if stats[11]["testCount"] != 0 or stats[11]["remainingCount"] != 0:
    print("Open GL Drivers examined something:", stats[11]); sys.exit(1)
print("software scan: %d seeded findings as expected, %d of the prefix's own"
      % (len(got), len(other)))
PY
echo "software scan test passed"
