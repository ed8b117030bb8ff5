#!/usr/bin/env bash
# build.sh native|asan|tsan|windows [TARGET...] : configures and builds one build under build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-asan}
jobs=$(nproc)
case "$kind" in
  native)  args=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan)    args=(-DCMAKE_BUILD_TYPE=Debug -DQUENLO_SANITIZE=address) ;;
  # clang: GCC 12 does not warn when a [[nodiscard]] virtual call is ignored,
  # so this build is also the one that holds the platform interfaces to it.
  tsan)    args=(-DCMAKE_BUILD_TYPE=Debug -DQUENLO_SANITIZE=thread -DCMAKE_C_COMPILER=clang
                 -DCMAKE_CXX_COMPILER=clang++) ;;
  windows) args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64.cmake") ;;
  *) echo "usage: build.sh native|asan|tsan|windows" >&2; exit 2 ;;
esac
if [ ! -f "$root/build/third_party/sqlite/sqlite3.c" ]; then
  echo "build.sh: the SQLite source is missing (build/third_party/sqlite/sqlite3.c);" \
       "run scripts/setup.sh or scripts/fetch-sqlite.sh first" >&2
  exit 1
fi
cmake -S "$root" -B "$root/build/$kind" -G Ninja "${args[@]}" >/dev/null
shift || true
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$root/build/$kind" -j "$jobs" "${targets[@]}"
