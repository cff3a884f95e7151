#!/usr/bin/env bash
# Load of the NTRIP caster on this machine: lays out the demo program folder
# in a temporary directory, starts Tarvik headless on it and drives the
# caster with tarvik-ntrip-load (default: 1000 NTRIP rovers, one GGA every
# second each, for 30 s, on mount point DemoBinary with its demo user), then
# ends Tarvik with SIGTERM. Loopback only; ends by itself.
#
#   bench/server/ntrip_load.sh [--build DIR] [tarvik-ntrip-load options]
#
# The load client's line gives the streams started, the GGA sent and
# answered, the latency from a GGA to the last frame of its answer, and the
# CPU time Tarvik used during the window.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$top/build"
if [ "${1:-}" = "--build" ]; then build="$2"; shift 2; fi
work="$(mktemp -d /tmp/tarvik-ntrip-load-XXXXXX)"
base=$((20000 + RANDOM % 20000))
"$top/tools/make_demo_home.sh" --dest "$work/home" --build "$build" \
  --ports "$((base + 1)),$((base + 2)),$((base + 3))" --caster-port "$base" >/dev/null
"$build/bin/Tarvik" --home "$work/home" --start DemoBinary >"$work/tarvik.out" 2>&1 &
pid=$!
cleanup() {
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
  grep -q "NTRIP caster on port" "$work/tarvik.out" && break
  sleep 0.1
done
cat "$work/tarvik.out"
"$build/bin/tarvik-ntrip-load" --port "$base" --mount DemoBinary --user demo:demo --rovers 1000 \
  --seconds 30 --server-pid "$pid" "$@"
