#!/usr/bin/env bash
# Configures and builds one variant of the project.
#   tools/build.sh [release|asan]   (default release)
# The build folders are build/ and build-asan/ at the top of the checkout.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
variant="${1:-release}"
jobs="${TARVIK_JOBS:-$(nproc)}"
case "$variant" in
  release) dir="$top/build";      extra=() ;;
  asan)    dir="$top/build-asan"; extra=(-DTARVIK_SANITIZE=ON -DTARVIK_BUILD_BENCH=OFF) ;;
  *) echo "usage: $0 [release|asan]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
