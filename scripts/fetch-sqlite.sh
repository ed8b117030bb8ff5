#!/usr/bin/env bash
# fetch-sqlite.sh : puts the SQLite amalgamation (sqlite3.c, sqlite3.h) into
# build/third_party/sqlite, where CMake's quenlo_sqlite library takes it from.
#
# The source is the upstream autoconf tarball that the npm package sqlite3
# 6.0.1 carries (deps/sqlite-autoconf-3520000.tar.gz, SQLite 3.52.0). Both the
# package and the inner tarball are checked against pinned SHA-256 sums before
# anything is extracted; a mismatch stops the set-up. Nothing is committed:
# build/ is ignored. A second run with the files in place does nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=$root/build/third_party
out=$cache/sqlite
package=sqlite3@6.0.1
package_file=sqlite3-6.0.1.tgz
package_sha=ab8d044a93e05bd031d7ea75547c7fa60387cdc259d27f93c0e3e2832c4b1df9
inner=package/deps/sqlite-autoconf-3520000.tar.gz
inner_sha=f6b50b0c103392af32a8be15b2b9d25959de9a00a70c3979128aafeaa5338b3f
stamp=$out/.source-sha256

if [ -f "$out/sqlite3.c" ] && [ -f "$out/sqlite3.h" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$inner_sha" ]; then
  exit 0
fi

check() { # file, expected sum
  local got
  got=$(sha256sum "$1" | cut -d' ' -f1)
  if [ "$got" != "$2" ]; then
    echo "fetch-sqlite: $1 has SHA-256 $got, expected $2" >&2
    return 1
  fi
}

mkdir -p "$cache"
if [ ! -f "$cache/$package_file" ] || ! check "$cache/$package_file" "$package_sha" 2>/dev/null; then
  command -v npm >/dev/null || { echo "fetch-sqlite: npm is needed to fetch $package" >&2; exit 1; }
  rm -f "$cache/$package_file"
  echo "fetch-sqlite: fetching $package"
  (cd "$cache" && npm pack --silent --ignore-scripts "$package" >/dev/null)
fi
check "$cache/$package_file" "$package_sha"

work=$(mktemp -d "$cache/sqlite-extract.XXXXXX")
trap 'rm -rf "$work"' EXIT
tar -xzf "$cache/$package_file" -C "$work" --no-same-owner "$inner"
check "$work/$inner" "$inner_sha"
tar -xzf "$work/$inner" -C "$work" --no-same-owner --strip-components=1 \
  sqlite-autoconf-3520000/sqlite3.c sqlite-autoconf-3520000/sqlite3.h
mkdir -p "$out"
mv "$work/sqlite3.c" "$work/sqlite3.h" "$out/"
echo "$inner_sha" >"$stamp"
echo "fetch-sqlite: SQLite $(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$out/sqlite3.h") in $out"
