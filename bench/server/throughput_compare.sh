#!/usr/bin/env bash
# Throughput of the real program on the demo configurations, for two
# checkouts in one run (e.g. the last release and today's work), so that the
# figures come from the same machine in the same state.
#
#   bench/server/throughput_compare.sh [--seconds S] [--rss-requests N] TREE...
#
# TREE is a source checkout with a release build in TREE/build. Each is
# served from a fresh demo folder laid out by its own make_demo_home.sh
# (every log line written), loaded by this checkout's tarvik-load:
#   1 configuration (DemoBinary), 1 client and 8 clients;
#   3 configurations (DemoBinary, DemoAscii, DemoXml), 8 clients each at once;
#   resident memory of the process after 10,000 requests, after the load
#   runs above (every configuration warmed up) and after N requests in all
#   (default 1,000,000; DemoBinary with 8 clients).
# Only loopback is used; every run ends by itself.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
seconds=5
rss_requests=1000000
trees=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --rss-requests) rss_requests="$2"; shift 2 ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) trees+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
[ "${#trees[@]}" -gt 0 ] || { sed -n '2,16p' "$0" >&2; exit 2; }
load="$here/build/bin/tarvik-load"
[ -x "$load" ] || { echo "throughput_compare: build this checkout first ($load)" >&2; exit 2; }

work="$(mktemp -d /tmp/tarvik-throughput.XXXXXX)"
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

wait_port() {
  for _ in $(seq 1 200); do
    (echo >"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "throughput_compare: port $1 never opened" >&2
  return 1
}

# "clients 8, idle 0 ...: 12345 requests in 5.00 s = 2469 req/s; latency p50 ..." -> fields
field() { sed -E "s/.*$1 ([0-9.]+).*/\1/" <<<"$2"; }
requests_of() { sed -E 's/.*\): ([0-9]+) requests.*/\1/' <<<"$1"; }
rate_of() { sed -E 's/.* = ([0-9]+) req\/s.*/\1/' <<<"$1"; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

run_load() {  # port clients seconds format -> one Describe line
  "$load" --port "$1" --clients "$2" --seconds "$3" --format "$4" || true
}

results=()
for tree in "${trees[@]}"; do
  name="$(git -C "$tree" log -1 --format='%h' 2>/dev/null || basename "$tree")"
  home="$work/home-$name"
  pb=$(free_port); pa=$(free_port); px=$(free_port)
  "$tree/tools/make_demo_home.sh" --dest "$home" --build "$tree/build" --ports "$pb,$pa,$px" --fresh >/dev/null
  "$tree/build/bin/Tarvik" --home "$home" --start all >"$work/server-$name.log" 2>&1 &
  server=$!
  wait_port "$pb"; wait_port "$pa"; wait_port "$px"

  # Memory first at 10,000 requests (the process warmed up, nothing else
  # done yet), then again after N at the end.
  done_requests=0
  while [ "$done_requests" -lt 10000 ]; do
    done_requests=$((done_requests + $(requests_of "$(run_load "$pb" 8 1 binary)")))
  done
  rss_10k=$(rss_kb "$server"); at_10k=$done_requests

  one="$(run_load "$pb" 1 "$seconds" binary)"
  eight="$(run_load "$pb" 8 "$seconds" binary)"
  run_load "$pb" 8 "$seconds" binary >"$work/3b" & l1=$!
  run_load "$pa" 8 "$seconds" ascii >"$work/3a" & l2=$!
  run_load "$px" 8 "$seconds" ascii >"$work/3x" & l3=$!
  wait "$l1" "$l2" "$l3"
  three_b="$(cat "$work/3b")"; three_a="$(cat "$work/3a")"; three_x="$(cat "$work/3x")"
  three_total=$(($(rate_of "$three_b") + $(rate_of "$three_a") + $(rate_of "$three_x")))
  done_requests=$((done_requests + $(requests_of "$one") + $(requests_of "$eight") + $(requests_of "$three_b")))
  # Once every configuration has served (their sessions, buffers and
  # allocator arenas exist), what follows must not grow.
  rss_warm=$(rss_kb "$server"); at_warm=$done_requests
  while [ "$done_requests" -lt "$rss_requests" ]; do
    chunk="$(run_load "$pb" 8 10 binary)"
    n=$(requests_of "$chunk")
    [ "$n" -gt 0 ] || { echo "throughput_compare: no answers: $chunk" >&2; break; }
    done_requests=$((done_requests + n))
  done
  rss_end=$(rss_kb "$server")

  kill "$server"; wait "$server" 2>/dev/null || true; server=""
  results+=("$(printf '| %s | %s / %s / %s | %s / %s / %s | %s (%s + %s + %s), p99 %s / %s / %s | %s kB at %s, %s kB at %s, %s kB at %s |' \
    "$name" \
    "$(rate_of "$one")" "$(field p50 "$one")" "$(field p99 "$one")" \
    "$(rate_of "$eight")" "$(field p50 "$eight")" "$(field p99 "$eight")" \
    "$three_total" "$(rate_of "$three_b")" "$(rate_of "$three_a")" "$(rate_of "$three_x")" \
    "$(field p99 "$three_b")" "$(field p99 "$three_a")" "$(field p99 "$three_x")" \
    "$rss_10k" "$at_10k" "$rss_warm" "$at_warm" "$rss_end" "$done_requests")")
  for l in "$one" "$eight" "$three_b" "$three_a" "$three_x"; do echo "$name: $l"; done
done

echo
echo "| build | 1 config, 1 client: req/s / p50 ms / p99 ms | 1 config, 8 clients: req/s / p50 / p99 | 3 configs x 8 clients: req/s (binary + ASCII + XML), p99 ms | RSS |"
echo "| --- | --- | --- | --- | --- |"
for r in "${results[@]}"; do echo "$r"; done
