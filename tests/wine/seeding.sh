# Shared steps of the Wine scan tests, sourced by them: seeding .REG files
# into the test prefix's two registry views, taking them out again, and
# running a scan to a JSON file. Expects $run (scripts/wine-run.sh) and $work.

winpath() { echo "Z:${1//\//\\}"; }
regimport() { bash "$run" reg import "$(winpath "$1")" "/reg:$2" >/dev/null 2>&1; }

# seed BOTH.reg ONLY64.reg: the first into both views, the second into the
# 64-bit view only.
seed() {
  regimport "$1" 32 || { echo "import (32-bit view) failed"; exit 1; }
  regimport "$1" 64 || { echo "import (64-bit view) failed"; exit 1; }
  regimport "$2" 64 || { echo "import (64-bit only) failed"; exit 1; }
}

# unseed CLEANUP.reg: Wine's reg import deletes keys in the 64-bit view
# whatever view it is given, so the 32-bit copies are named through
# Wow6432Node.
unseed() {
  regimport "$1" 64
  sed 's/HKEY_LOCAL_MACHINE\\Software\\/HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\/' \
    "$1" >"$work/cleanup32.reg"
  regimport "$work/cleanup32.reg" 64
}

# scan_json EXE ARGS...: the scan's JSON in $work/out.json; exits on failure.
scan_json() {
  local exe=$1
  shift
  bash "$run" "$exe" scan --json "$@" >"$work/out.json" 2>"$work/err.txt"
  local code=$?
  if [ $code -ne 0 ]; then echo "scan exited $code"; cat "$work/err.txt"; exit 1; fi
}
