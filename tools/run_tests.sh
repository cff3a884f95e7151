#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer variant and
# runs the whole suite through CTest in both.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
"$top/tools/check_format.sh"
"$top/tools/check_layers.sh"
jobs="${TARVIK_JOBS:-$(nproc)}"

"$top/tools/build.sh" release
(cd "$top/build" && ctest --output-on-failure -j "$jobs")

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
"$top/tools/build.sh" asan
(cd "$top/build-asan" && ctest --output-on-failure -j "$jobs")
"$top/fuzz/run_smoke.sh" "${TARVIK_FUZZ_SECONDS:-30}"
