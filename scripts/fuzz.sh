#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + ASan + UBSan) and runs
# each for half the time: the settings parser and the registry file reader
# and writer. Each run ends with its own "Done N runs" line.
#   scripts/fuzz.sh [SECONDS]   default 20; the corpora live in build/fuzz/corpus*
#   FUZZ_MAX_LEN=65536 scripts/fuzz.sh 600   a longer run with larger inputs
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
out=$root/build/fuzz
mkdir -p "$out/corpus"
cd "$root"

sources=(fuzz/settings_fuzz.cpp app/uIniFile.cpp app/uSettings.cpp app/uEnvironment.cpp
         app/uIgnoreLists.cpp app/uIgnoreListsData.cpp app/uVersionInfo.cpp app/uAppHost.cpp
         platform/Platform.cpp platform/Utf.cpp platform/PathText.cpp platform/NumberText.cpp platform/FileOps.cpp platform/Guards.cpp registry/uRegAccess.cpp registry/uProtectedKeys.cpp
         paths/uPaths.cpp paths/uPathText.cpp paths/uSysUtils.cpp paths/uProbeCache.cpp
         scanner/uCategories.cpp)
binary=$out/settings_fuzz
rebuild=0
[ -x "$binary" ] || rebuild=1
for f in "${sources[@]}" app/*.h platform/*.h registry/*.h paths/*.h scanner/uCategories.h; do
  [ "$f" -nt "$binary" ] && rebuild=1
done
if [ "$rebuild" = 1 ]; then
  echo "building $binary"
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "${sources[@]}" -lz -lpthread -o "$binary"
fi

# Seeds: a settings file as the program writes it and a few damaged ones.
seeds=$out/seeds
mkdir -p "$seeds"
printf '[scan]\r\nDeepScan=0\r\n[settings]\r\nAutoAction=2\r\nlast_scan=202401021530\r\n[SkippedKeys]\r\nHKEY_CURRENT_USER\\A=1\r\n[MonitoredKeys]\r\nHKEY_LOCAL_MACHINE\\B=\r\n' >"$seeds/normal.ini"
printf '\xef\xbb\xbf[settings]\nAutoFreq=x\n[settings]\nAutoFreq=3\n[scan' >"$seeds/damaged.ini"
printf '\xff\xfe[\x00s\x00]\x00\r\x00\n\x00k\x00=\x00v\x00' >"$seeds/utf16.ini"

half=$(( (seconds + 1) / 2 ))
echo "fuzzing the settings parser for $half s"
"$binary" -max_total_time="$half" -max_len="${FUZZ_MAX_LEN:-8192}" -timeout=10 -rss_limit_mb=1024 \
  -print_final_stats=1 "$out/corpus" "$seeds" 2>&1 | tail -15

# The registry file reader and writer.
reg_sources=(fuzz/regfile_fuzz.cpp registry/uRegFile.cpp registry/uRegAccess.cpp registry/uProtectedKeys.cpp
             platform/Platform.cpp platform/Utf.cpp platform/PathText.cpp platform/NumberText.cpp platform/FileOps.cpp
             platform/Guards.cpp)
reg_binary=$out/regfile_fuzz
rebuild=0
[ -x "$reg_binary" ] || rebuild=1
for f in "${reg_sources[@]}" platform/*.h registry/*.h; do
  [ "$f" -nt "$reg_binary" ] && rebuild=1
done
if [ "$rebuild" = 1 ]; then
  echo "building $reg_binary"
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "${reg_sources[@]}" -lpthread -o "$reg_binary"
fi
reg_seeds=$out/regfile-seeds
mkdir -p "$reg_seeds" "$out/corpus-regfile"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"v"="x\\"y"\r\n@=dword:00000001\r\n"h"=hex(7):61,00,\\\r\n  00\r\n[-HKEY_CURRENT_USER\\B]\r\n' >"$reg_seeds/regedit4.reg"
printf 'Software\\a]\n[-HKEY_LOCAL_MACHINE\\Software\\Victim]\x00na\rme\x00data' >"$reg_seeds/hostile.bin"
echo "fuzzing the registry file reader and writer for $half s"
"$reg_binary" -max_total_time="$half" -max_len="${FUZZ_MAX_LEN:-8192}" -timeout=10 -rss_limit_mb=1024 \
  -print_final_stats=1 "$out/corpus-regfile" "$reg_seeds" 2>&1 | tail -15
