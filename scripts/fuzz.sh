#!/usr/bin/env bash
# Builds the settings-parser fuzz target with clang (libFuzzer + ASan +
# UBSan) and runs it.
#   scripts/fuzz.sh [SECONDS]   default 20; the corpus lives in build/fuzz/corpus
#   FUZZ_MAX_LEN=65536 scripts/fuzz.sh 600   a longer run with larger inputs
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
out=$root/build/fuzz
mkdir -p "$out/corpus"
cd "$root"

sources=(fuzz/settings_fuzz.cpp app/uIniFile.cpp app/uSettings.cpp app/uEnvironment.cpp
         app/uIgnoreLists.cpp app/uIgnoreListsData.cpp app/uVersionInfo.cpp app/uAppHost.cpp
         platform/Platform.cpp platform/Utf.cpp platform/PathText.cpp platform/FileOps.cpp platform/Guards.cpp registry/uRegAccess.cpp
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

echo "fuzzing for $seconds s"
"$binary" -max_total_time="$seconds" -max_len="${FUZZ_MAX_LEN:-8192}" -timeout=10 -rss_limit_mb=1024 \
  -print_final_stats=1 "$out/corpus" "$seeds" 2>&1 | tail -15
