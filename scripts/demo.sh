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
# A few broken COM and file association entries (data/demo) in both registry
# views, so that the scan shows what it finds.
demo_reg="Z:${root//\//\\}\\data\\demo\\com-assoc.reg"
for view in 32 64; do
  bash scripts/wine-run.sh reg import "$demo_reg" "/reg:$view" >/dev/null 2>&1
done
bash scripts/wine-run.sh build/windows/quenlo-cli.exe scan "$@"
