#!/usr/bin/env bash
# The main job: builds the Windows program, seeds a few broken COM and file
# association entries (data/demo) into a throwaway Wine prefix and opens the
# window on it. The window is shown on $DISPLAY, or on a private Xvfb display
# when there is none; a driver then works it as a user would (status page,
# Scan Now, results, Repair, report) and saves screenshots of those pages in
# build/screens/. On a real display the window stays open afterwards until
# you close it.
#
#   bash scripts/demo.sh            the window
#   bash scripts/demo.sh --cli      the command-line scan instead (add --json)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mode=window
if [ "${1:-}" = "--cli" ]; then mode=cli; shift; fi
# The command-line scan's own option also asks for it.
if [ "${1:-}" = "--json" ]; then mode=cli; fi
bash scripts/setup.sh
export QUENLO_WINEPREFIX=$root/build/demo-prefix
seed_prefix() {
  bash scripts/wine-prefix.sh "$QUENLO_WINEPREFIX"
  # The entries go into both registry views, so that the scan shows what it finds.
  local demo_reg="Z:${root//\//\\}\\data\\demo\\com-assoc.reg"
  for view in 32 64; do
    bash scripts/wine-run.sh reg import "$demo_reg" "/reg:$view" >/dev/null 2>&1
  done
}

if [ "$mode" = cli ]; then
  bash scripts/build.sh windows quenlo-cli
  seed_prefix
  bash scripts/wine-run.sh build/windows/quenlo-cli.exe scan "$@"
  exit
fi

bash scripts/build.sh windows quenlo quenlo_e2e_driver
seed_prefix
xvfb_pid=
cleanup() {
  WINEPREFIX=$QUENLO_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=:$n; break; fi
  done
  Xvfb "$DISPLAY" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 60); do [ -S "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.5; done
  echo "demo: no display given; the window runs on Xvfb $DISPLAY"
fi

screens=$root/build/screens
rm -rf "$screens"
mkdir -p "$screens"
bash scripts/wine-run.sh build/windows/quenlo.exe >/dev/null 2>&1 &
quenlo_pid=$!
winscreens="Z:${screens//\//\\}"
status=0
bash scripts/wine-run.sh build/windows/quenlo_e2e_driver.exe screens "$winscreens" \
  "$winscreens\\demo.log" || status=$?
python3 tests/e2e/bmp2png.py "$screens"/*.bmp
echo "demo: screenshots of the status, scan, results and report pages:"
ls "$screens"/*.png
if [ -n "$xvfb_pid" ]; then
  bash scripts/wine-run.sh build/windows/quenlo_e2e_driver.exe close >/dev/null 2>&1 || true
else
  echo "demo: the window stays open; close it to end the demo"
fi
wait "$quenlo_pid" || true
exit $status
