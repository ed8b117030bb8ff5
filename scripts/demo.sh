#!/usr/bin/env bash
# The main job: builds the Windows program and scans the registry of a
# throwaway Wine prefix with it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh windows
export QUENLO_WINEPREFIX=$root/build/demo-prefix
bash scripts/wine-prefix.sh "$QUENLO_WINEPREFIX"
bash scripts/wine-run.sh build/windows/quenlo-cli.exe scan "$@"
