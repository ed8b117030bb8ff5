#!/usr/bin/env bash
# wine-run.sh PROGRAM [ARGS...] : runs a Windows program in the test prefix.
set -euo pipefail
# Wine keeps its state below $HOME; make sure there is one.
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
: "${QUENLO_WINEPREFIX:?QUENLO_WINEPREFIX must name the test prefix}"
export WINEPREFIX=$QUENLO_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
exec wine "$@"
