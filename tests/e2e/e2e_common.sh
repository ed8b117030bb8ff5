# Shared steps of the window tests, sourced by them with their arguments
# (QUENLO_EXE DRIVER_EXE ...): a private Xvfb display, a throwaway prefix,
# clean-up, polling. Sets $exe, $driver, $here, $root, $screens, $work
# (removed at exit), $log, $prefix, $run and QUENLO_WINEPREFIX.
exe=$(realpath "$1")
driver=$(realpath "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
screens=${QUENLO_SCREENS_DIR:-$root/build/test-logs/screens}
work=$(mktemp -d)
log=$work/driver.log
prefix=$work/prefix
run=$root/scripts/wine-run.sh
export QUENLO_WINEPREFIX=$prefix
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi

xvfb_pid=
quenlo_pid=
cleanup() {
  if [ -d "$prefix" ]; then WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$quenlo_pid" ]; then wait "$quenlo_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { echo "Z:${1//\//\\}"; }

# wait_until SECONDS CMD...: polls CMD until it succeeds or the time is up.
wait_until() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.5
  done
}

# start_display: Xvfb on the first free display number; exports DISPLAY.
start_display() {
  local n display=
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=:$n; break; fi
  done
  [ -n "$display" ] || { echo "no free X display"; exit 1; }
  Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  if ! wait_until 30 test -S "/tmp/.X11-unix/X${display#:}"; then
    echo "Xvfb did not start on $display"; cat "$work/xvfb.log"; exit 1
  fi
}

# import_reg FILE VIEW: imports a .REG file into the prefix.
import_reg() { bash "$run" reg import "$(winpath "$1")" "/reg:$2" >/dev/null 2>&1; }

# start_quenlo EXE ARGS...: runs it in the background; $quenlo_pid.
start_quenlo() {
  bash "$run" "$@" >"$work/quenlo.out" 2>&1 &
  quenlo_pid=$!
}
