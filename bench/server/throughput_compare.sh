#!/usr/bin/env bash
# Throughput of the real program on the demo configurations, for two or
# more checkouts in one run (e.g. the last release and today's work), so that
# the figures come from the same machine in the same state.
#
#   bench/server/throughput_compare.sh [--seconds S] [--rounds R] [--rss-requests N] TREE...
#
# TREE is a source checkout with a release build in TREE/build. Each is
# served from a fresh demo folder laid out by its own make_demo_home.sh
# (every log line written), loaded by this checkout's tarvik-load:
#   1 configuration (DemoBinary), 1 client and 8 clients;
#   3 configurations (DemoBinary, DemoAscii, DemoXml), 8 clients each at once;
#   resident memory of the process after 10,000 requests, after the load
#   runs above (every configuration warmed up) and after N requests in all
#   (default 1,000,000; DemoBinary with 8 clients).
# A virtual machine's speed drifts by tens of percent within minutes, so the
# trees take turns: R rounds (default 3) of all three loads, the order of
# the trees reversed every other round, each figure the median of its
# rounds (the 3-configuration totals of every round are listed as well).
# Only loopback is used; every run ends by itself.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
seconds=5
rounds=3
rss_requests=1000000
trees=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    --rss-requests) rss_requests="$2"; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) trees+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
[ "${#trees[@]}" -gt 0 ] || { sed -n '2,20p' "$0" >&2; exit 2; }
[ "$rounds" -ge 1 ] || { echo "throughput_compare: --rounds must be at least 1" >&2; exit 2; }
load="$here/build/bin/tarvik-load"
[ -x "$load" ] || { echo "throughput_compare: build this checkout first ($load)" >&2; exit 2; }

work="$(mktemp -d /tmp/tarvik-throughput.XXXXXX)"
servers=()
cleanup() {
  for pid in "${servers[@]}"; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
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
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

run_load() {  # port clients seconds format -> one Describe line
  "$load" --port "$1" --clients "$2" --seconds "$3" --format "$4" || true
}

# Every tree's server runs for the whole comparison; one is loaded at a time.
declare -A name pb pa px pid done_requests rss_10k rss_warm at_warm
declare -A one_rate one_p50 one_p99 eight_rate eight_p50 eight_p99
declare -A three_total three_b three_a three_x three_pb three_pa three_px
for t in "${!trees[@]}"; do
  tree="${trees[$t]}"
  name[$t]="$(git -C "$tree" log -1 --format='%h' 2>/dev/null || basename "$tree")"
  home="$work/home-$t"
  pb[$t]=$(free_port); pa[$t]=$(free_port); px[$t]=$(free_port)
  "$tree/tools/make_demo_home.sh" --dest "$home" --build "$tree/build" \
    --ports "${pb[$t]},${pa[$t]},${px[$t]}" --fresh >/dev/null
  "$tree/build/bin/Tarvik" --home "$home" --start all >"$work/server-$t.log" 2>&1 &
  pid[$t]=$!
  servers+=("${pid[$t]}")
  wait_port "${pb[$t]}"; wait_port "${pa[$t]}"; wait_port "${px[$t]}"
  # Memory first at 10,000 requests (the process warmed up, nothing else
  # done yet).
  done_requests[$t]=0
  while [ "${done_requests[$t]}" -lt 10000 ]; do
    done_requests[$t]=$((done_requests[$t] + $(requests_of "$(run_load "${pb[$t]}" 8 1 binary)")))
  done
  rss_10k[$t]=$(rss_kb "${pid[$t]}")
done

for round in $(seq 1 "$rounds"); do
  order=("${!trees[@]}")
  if [ $((round % 2)) -eq 0 ]; then
    reversed=()
    for ((k = ${#order[@]} - 1; k >= 0; k--)); do reversed+=("${order[$k]}"); done
    order=("${reversed[@]}")
  fi
  for t in "${order[@]}"; do
    one="$(run_load "${pb[$t]}" 1 "$seconds" binary)"
    eight="$(run_load "${pb[$t]}" 8 "$seconds" binary)"
    run_load "${pb[$t]}" 8 "$seconds" binary >"$work/3b" & l1=$!
    run_load "${pa[$t]}" 8 "$seconds" ascii >"$work/3a" & l2=$!
    run_load "${px[$t]}" 8 "$seconds" xml >"$work/3x" & l3=$!
    wait "$l1" "$l2" "$l3"
    b="$(cat "$work/3b")"; a="$(cat "$work/3a")"; x="$(cat "$work/3x")"
    for l in "$one" "$eight" "$b" "$a" "$x"; do echo "${name[$t]} round $round: $l"; done
    one_rate[$t]+=" $(rate_of "$one")"; one_p50[$t]+=" $(field p50 "$one")"; one_p99[$t]+=" $(field p99 "$one")"
    eight_rate[$t]+=" $(rate_of "$eight")"; eight_p50[$t]+=" $(field p50 "$eight")"
    eight_p99[$t]+=" $(field p99 "$eight")"
    three_total[$t]+=" $(($(rate_of "$b") + $(rate_of "$a") + $(rate_of "$x")))"
    three_b[$t]+=" $(rate_of "$b")"; three_a[$t]+=" $(rate_of "$a")"; three_x[$t]+=" $(rate_of "$x")"
    three_pb[$t]+=" $(field p99 "$b")"; three_pa[$t]+=" $(field p99 "$a")"; three_px[$t]+=" $(field p99 "$x")"
    done_requests[$t]=$((done_requests[$t] + $(requests_of "$one") + $(requests_of "$eight") + $(requests_of "$b")))
  done
done

# Once every configuration has served (their sessions, buffers and allocator
# arenas exist), what follows must not grow.
results=()
for t in "${!trees[@]}"; do
  rss_warm[$t]=$(rss_kb "${pid[$t]}"); at_warm[$t]=${done_requests[$t]}
  while [ "${done_requests[$t]}" -lt "$rss_requests" ]; do
    chunk="$(run_load "${pb[$t]}" 8 10 binary)"
    n=$(requests_of "$chunk")
    [ "$n" -gt 0 ] || { echo "throughput_compare: no answers: $chunk" >&2; break; }
    done_requests[$t]=$((done_requests[$t] + n))
  done
  rss_end=$(rss_kb "${pid[$t]}")
  results+=("$(printf '| %s | %s / %s / %s | %s / %s / %s | %s (%s + %s + %s), p99 %s / %s / %s; rounds: %s | %s kB at 10k, %s kB at %s, %s kB at %s |' \
    "${name[$t]}" \
    "$(median <<<"${one_rate[$t]}")" "$(median <<<"${one_p50[$t]}")" "$(median <<<"${one_p99[$t]}")" \
    "$(median <<<"${eight_rate[$t]}")" "$(median <<<"${eight_p50[$t]}")" "$(median <<<"${eight_p99[$t]}")" \
    "$(median <<<"${three_total[$t]}")" "$(median <<<"${three_b[$t]}")" "$(median <<<"${three_a[$t]}")" \
    "$(median <<<"${three_x[$t]}")" \
    "$(median <<<"${three_pb[$t]}")" "$(median <<<"${three_pa[$t]}")" "$(median <<<"${three_px[$t]}")" \
    "$(echo ${three_total[$t]} | tr ' ' ',')" \
    "${rss_10k[$t]}" "${rss_warm[$t]}" "${at_warm[$t]}" "$rss_end" "${done_requests[$t]}")")
done

echo
echo "Medians of $rounds rounds of $seconds s."
echo "| build | 1 config, 1 client: req/s / p50 ms / p99 ms | 1 config, 8 clients: req/s / p50 / p99 | 3 configs x 8 clients: req/s (binary + ASCII + XML), p99 ms | RSS |"
echo "| --- | --- | --- | --- | --- |"
for r in "${results[@]}"; do echo "$r"; done
