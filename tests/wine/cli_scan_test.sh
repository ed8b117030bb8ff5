#!/usr/bin/env bash
# quenlo-cli.exe under Wine: a scan prints valid JSON with a statistics entry
# per category and exits 0; bad usage exits 2 with the usage text.
set -uo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../scripts/wine-run.sh
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

bash "$run" "$exe" scan --json >"$out" 2>"$err"
code=$?
if [ $code -ne 0 ]; then echo "scan exited $code"; cat "$err"; exit 1; fi
python3 - "$out" <<'PY' || exit 1
import json, sys
data = json.load(open(sys.argv[1], encoding="utf-8"))
stats = data["statistics"]
assert len(stats) == 24, len(stats)
assert [s["category"] for s in stats] == list(range(24))
assert data["fullScanDone"] is True
assert isinstance(data["findings"], list)
for f in data["findings"]:
    for key in ("category", "categoryName", "testId", "kind", "kindName", "view64", "root",
                "keyPath", "valueName", "target", "data", "action", "actions", "description"):
        assert key in f, key
print("scan --json: %d findings, health %s" % (len(data["findings"]), data["health"]))
PY
grep -q "^progress " "$err" || { echo "no progress lines on stderr"; cat "$err"; exit 1; }

bash "$run" "$exe" scan --no-such-option >"$out" 2>"$err"
code=$?
[ $code -eq 2 ] || { echo "bad usage exited $code"; exit 1; }
grep -q "usage: quenlo-cli" "$err" || { echo "no usage text"; exit 1; }
echo "cli scan test passed"
