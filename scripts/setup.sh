#!/usr/bin/env bash
# Installs what both builds and the tests need from Debian's packages, when missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ googletest libgtest-dev zlib1g-dev
      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
      libgcrypt20-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
      wine64 wine python3 clang libclang-rt-14-dev xvfb
      # chmcmd, which compiles the Windows build's help
      fp-utils)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # wine32 is never installed: 32-bit Linux programs cannot run on these machines.
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# SQLite's amalgamation, fetched once into build/third_party (checksums
# pinned) with npm, which is installed only while the source is missing.
root=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$root/build/third_party/sqlite/sqlite3.c" ] && ! command -v npm >/dev/null; then
  echo "setup: installing npm"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends npm >/dev/null
fi
bash "$root/scripts/fetch-sqlite.sh"
