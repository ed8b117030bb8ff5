#!/usr/bin/env bash
# wine-run.sh PROGRAM [ARGS...] : runs a Windows program in the test prefix.
set -euo pipefail
: "${QUENLO_WINEPREFIX:?QUENLO_WINEPREFIX must name the test prefix}"
export WINEPREFIX=$QUENLO_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
exec wine "$@"
