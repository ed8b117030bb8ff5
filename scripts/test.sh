#!/usr/bin/env bash
# Runs every test from a clean checkout: installs what is missing, builds the
# native build with ASan+UBSan and runs the unit tests, runs the threaded tests
# under TSan, cross-builds the Windows program and runs its tests under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || exit 1

logs=$root/build/test-logs
mkdir -p "$logs"
status=0
run_ctest() { # name, ctest args...
  local name=$1; shift
  ctest "$@" --output-on-failure -j "$(nproc)" 2>&1 | tee "$logs/$name.log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
}

echo "== native build (ASan + UBSan) and unit tests"
if bash scripts/build.sh asan; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest unit --test-dir build/asan
else status=1; fi

echo "== settings parser and registry file fuzzing (short runs)"
if bash scripts/fuzz.sh 20 2>&1 | tee "$logs/fuzz.txt"; then
  # One "Done" line for each of the two targets.
  [ "$(grep -c "Done [0-9]* runs" "$logs/fuzz.txt")" -ge 2 ] || status=1
else status=1; fi

echo "== threaded tests under TSan"
if bash scripts/build.sh tsan quenlo_unit_tests; then
  TSAN_OPTIONS=halt_on_error=1 run_ctest tsan --test-dir build/tsan -R '^Threaded'
else status=1; fi

echo "== Windows build and tests under Wine"
if bash scripts/build.sh windows; then
  export QUENLO_WINEPREFIX=$root/build/wine-test-prefix
  bash scripts/wine-prefix.sh "$QUENLO_WINEPREFIX"
  run_ctest wine --test-dir build/windows
  WINEPREFIX=$QUENLO_WINEPREFIX wineserver -k 2>/dev/null || true
else status=1; fi

passed=0; failed=0
for f in "$logs"/*.log; do
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$f" | tail -1)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)); failed=$((failed + bad))
  fi
done
[ "$status" -eq 0 ] || [ "$failed" -gt 0 ] || failed=1
echo "$passed passed, $failed failed"
exit $status
