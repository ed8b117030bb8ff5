#!/usr/bin/env bash
# make-browser-profiles.sh [OUT_DIR] : re-makes the browser profiles of the
# Wine browser clean test (tests/wine/data/browsers/ by default) with real
# browsers: Debian's chromium and firefox-esr, run headless and driven as a
# user would through a local site on 127.0.0.1 (tests/wine/browsers/):
# pages visited by two host names (cookies of two hosts), a form typed into
# and sent, a file downloaded, and a bookmark of a visited page. Once the
# browsers have exited, only what the cleaner reads is packed.
#
# Installs the browsers with apt-get when they are missing (Debian's
# versions, written into the manifest) and the drivers with `npm ci` from
# the pinned package-lock.json; run it as root. The tests use the committed
# fixtures; nothing here runs in CI.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
here=$root/tests/wine/browsers
out=${1:-$root/tests/wine/data/browsers}
port=${QUENLO_PROFILE_PORT:-47810}
bookmark="http://127.0.0.1:$port/page2"

need=()
command -v chromium >/dev/null || need+=(chromium)
command -v firefox-esr >/dev/null || need+=(firefox-esr)
command -v node >/dev/null || need+=(nodejs npm)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"
fi
(cd "$here" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)

work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

python3 "$here/serve.py" "$port" >"$work/serve.log" 2>&1 &
server=$!
for _ in $(seq 50); do
  grep -q serving "$work/serve.log" && break
  kill -0 "$server" 2>/dev/null || { cat "$work/serve.log"; exit 1; }
  sleep 0.1
done

# --- Firefox: a first start in an empty home makes profiles.ini,
# installs.ini and the profiles as on a new machine (a "default" one that
# stays empty, and the one this installation uses); then the driven run in
# the used profile, which first imports bookmarks.html from it.
home=$work/home
mkdir -p "$home" "$work/ff-downloads"
HOME=$home timeout 120 firefox-esr --headless --screenshot "$work/first.png" about:blank \
  >"$work/ff-first.log" 2>&1 || { cat "$work/ff-first.log"; exit 1; }
ff_config=$home/.config/mozilla/firefox
ff_cache=$home/.cache/mozilla/firefox
[ -f "$ff_config/installs.ini" ] || { echo "firefox made no installs.ini in $ff_config"; exit 1; }
profile=$(sed -n 's/^Default=//p' "$ff_config/installs.ini" | head -n1 | tr -d '\r')
[ -d "$ff_config/$profile" ] || { echo "no profile folder $profile"; exit 1; }
cat >"$ff_config/$profile/bookmarks.html" <<HTML
<!DOCTYPE NETSCAPE-Bookmark-file-1>
<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
<TITLE>Bookmarks</TITLE>
<H1>Bookmarks Menu</H1>
<DL><p>
    <DT><A HREF="$bookmark">Quenlo bookmark</A>
</DL><p>
HTML
HOME=$home timeout 300 node "$here/drive.js" firefox "$ff_config/$profile" "$work/ff-downloads" \
  "$port" >"$work/ff.json"

# --- Chromium
mkdir -p "$work/chromium" "$work/chr-downloads"
HOME=$home timeout 300 node "$here/drive.js" chromium "$work/chromium" "$work/chr-downloads" \
  "$port" "$bookmark" >"$work/chr.json"

dpkg_version() { dpkg-query -W -f='${Version}' "$1"; }
python3 - "$work/versions.json" "$port" "$(dpkg_version chromium)" "$(dpkg_version firefox-esr)" \
  "$(chromium --version 2>/dev/null)" "$(firefox-esr --version 2>/dev/null)" \
  "$(node -p "require('$here/node_modules/playwright-core/package.json').version")" \
  "$(node -p "require('$here/node_modules/puppeteer-core/package.json').version")" <<'PY'
import json, sys
out, port, chr_deb, ff_deb, chr_says, ff_says, pw, pp = sys.argv[1:]
json.dump({"port": int(port),
           "chromium": {"debian": chr_deb, "reports": chr_says.strip(), "driver": "playwright-core " + pw},
           "firefox-esr": {"debian": ff_deb, "reports": ff_says.strip(), "driver": "puppeteer-core " + pp}},
          open(out, "w"))
PY
python3 "$here/pack.py" "$ff_config" "$ff_cache" "$work/chromium" "$work/ff.json" "$work/chr.json" \
  "$work/versions.json" "$bookmark" "$out"
echo "profiles written to $out"
