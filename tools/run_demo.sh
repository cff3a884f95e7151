#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
"$top/tools/build.sh" release
exec "$top/build/bin/Tarvik" "$@"
