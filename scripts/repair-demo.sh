#!/usr/bin/env bash
# repair-demo.sh : on the demonstration prefix, plants a few broken entries,
# runs "quenlo-cli repair" and then "quenlo-cli undo restore" for the day, and
# shows that the registry is exactly as it was before the repair.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# QUENLO_CLI and QUENLO_WINEPREFIX may name another program and prefix.
if [ -z "${QUENLO_CLI:-}" ]; then
  bash scripts/setup.sh >/dev/null
  bash scripts/build.sh windows >/dev/null
fi
cli=${QUENLO_CLI:-build/windows/quenlo-cli.exe}
export QUENLO_WINEPREFIX=${QUENLO_WINEPREFIX:-$root/build/demo-prefix}
[ -f "$QUENLO_WINEPREFIX/system.reg" ] || bash scripts/wine-prefix.sh "$QUENLO_WINEPREFIX"
run() { bash scripts/wine-run.sh "$@"; }
out=$root/build/repair-demo
mkdir -p "$out"
winout="Z:${out//\//\\}"

# Entries pointing to files that do not exist: startup entries in both
# views and a class whose server is missing.
run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v QuenloDemoGhost \
  /d 'C:\missing\ghost.exe' /f >/dev/null
run reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v QuenloDemoGhost \
  /d 'C:\missing\ghost64.exe' /f /reg:64 >/dev/null
run reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v QuenloDemoGhost \
  /d 'C:\missing\ghost32.exe' /f /reg:32 >/dev/null
run reg add 'HKCU\Software\Classes\CLSID\{0D1E7A11-0000-4000-8000-00000000DE70}\InprocServer32' \
  /ve /d 'C:\missing\demo.dll' /f >/dev/null

snapshot() { # name: the whole registry as text, without keys Wine rewrites by itself
  run regedit /e "$winout\\$1.reg" >/dev/null 2>&1
  iconv -f UTF-16LE -t UTF-8 "$out/$1.reg" | tr -d '\r' |
    awk '/^\[/{skip = ($0 ~ /\\(Volatile Environment|DynData|PerfStats|Wine\\WineDbg|Session Manager\\Environment)/)} !skip' \
      > "$out/$1.txt"
}

snapshot before
echo "== quenlo-cli repair $*"
run "$cli" repair "$@" 2>"$out/progress.txt" || true
day=$(run "$cli" undo days | tr -d '\r' | tail -1 | cut -f1)
echo "== quenlo-cli undo entries $day"
run "$cli" undo entries "$day"
snapshot repaired
echo "== quenlo-cli undo restore $day"
run "$cli" undo restore "$day"
snapshot after
wineserver_done() { WINEPREFIX=$QUENLO_WINEPREFIX wineserver -w 2>/dev/null || true; }
wineserver_done
echo "== lines changed by the repair: $(diff "$out/before.txt" "$out/repaired.txt" | grep -c '^[<>]' || true)"
if diff -u "$out/before.txt" "$out/after.txt" >"$out/diff.txt"; then
  echo "== registry after restore: identical to before the repair"
else
  echo "== registry after restore differs from before the repair:"
  cat "$out/diff.txt"
  exit 1
fi
