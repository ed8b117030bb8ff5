#!/usr/bin/env bash
# wine-prefix.sh DIR : makes a fresh 64-bit Wine prefix for tests and the demo.
# The home-folder links (Desktop, Documents ...) become empty folders so that
# nothing walks $HOME, and drive R: is a CD-ROM drive over DIR/cdrom.
set -euo pipefail
# Wine keeps its state below $HOME; make sure there is one.
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
rm -rf "$prefix"
mkdir -p "$prefix"
wineboot --init >/dev/null 2>&1 || true
wineserver -w
user_dir="$prefix/drive_c/users/$(whoami)"
for link in "$user_dir"/*; do
  if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
done
mkdir -p "$prefix/cdrom"
echo "on a cd" > "$prefix/cdrom/oncd.exe"
ln -sfn "$prefix/cdrom" "$prefix/dosdevices/r:"
cat > "$prefix/drives.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"r:"="cdrom"
REG
wine regedit /s "$prefix/drives.reg" >/dev/null 2>&1
wineserver -k || true
wineserver -w || true
