#!/usr/bin/env bash
# quenlo-cli.exe monitor under Wine: while it watches two keys of HKCU and
# one of HKLM\SOFTWARE (two views), other programs (reg, regedit) make a
# known series of changes; every one must be printed as its JSON line,
# exactly, nothing missing and nothing extra, and Ctrl+C must end the
# monitor with exit code 0 (monitor_cli_series.py). Usage errors exit 2.
# The keys are made in the shared test prefix and removed at the end.
#
# usage: monitor_cli_test.sh quenlo-cli.exe
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
: "${QUENLO_WINEPREFIX:?QUENLO_WINEPREFIX must name the test prefix}"
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
export WINEPREFIX=$QUENLO_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
work=$(mktemp -d)

remove_keys() {
  wine reg delete 'HKCU\Software\QuenloMonTest' /f >/dev/null 2>&1
  wine reg delete 'HKLM\SOFTWARE\QuenloMonTest' /reg:64 /f >/dev/null 2>&1
  wine reg delete 'HKLM\SOFTWARE\QuenloMonTest' /reg:32 /f >/dev/null 2>&1
}
trap 'remove_keys; rm -rf "$work"' EXIT

# Usage errors are refused before anything is watched.
wine "$exe" monitor --key 'HKCU' --seconds 1 >"$work/out" 2>"$work/err"
code=$?
[ $code -eq 2 ] || { echo "FAIL: a key without a root exited $code, not 2"; cat "$work/err"; exit 1; }
grep -q "is not a key" "$work/err" || { echo "FAIL: no reason for the bad key"; cat "$work/err"; exit 1; }
wine "$exe" monitor --seconds 0 >"$work/out" 2>"$work/err"
code=$?
[ $code -eq 2 ] || { echo "FAIL: --seconds 0 exited $code, not 2"; cat "$work/err"; exit 1; }

# The watched keys exist before the monitor starts, with one value each
# that the series never touches.
remove_keys
for key in 'HKCU\Software\QuenloMonTest\Alpha' 'HKCU\Software\QuenloMonTest\Beta'; do
  wine reg add "$key" /v Untouched /t REG_SZ /d x /f >/dev/null 2>&1 || { echo "FAIL: reg add $key"; exit 1; }
done
for view in /reg:64 /reg:32; do
  wine reg add 'HKLM\SOFTWARE\QuenloMonTest' /v Untouched /t REG_SZ /d x $view /f >/dev/null 2>&1 ||
    { echo "FAIL: reg add HKLM\\SOFTWARE\\QuenloMonTest $view"; exit 1; }
done

python3 "$here/monitor_cli_series.py" "$exe" "$work" || exit 1
echo "monitor cli test passed"
