#!/usr/bin/env bash
# The request benchmarks (bench_module_execute) of two or more checkouts in
# one run, taking turns, so that the figures come from the same machine in
# the same state.
#
#   bench/module/execute_compare.sh [--rounds R] [--min-time S] [--filter REGEX] TREE...
#
# TREE is a source checkout with a release build in TREE/build. A virtual
# machine's speed drifts by tens of percent within minutes (and on this
# kind of host it jumps between two speeds), so one run of each tree says
# little: the trees take turns for R rounds (default 8), the order reversed
# every other round, and each benchmark's wall time is given as the median
# and the minimum of its rounds, with every round's value.
# Default filter: Execute for every height source and the three formats'
# Handle benchmarks; --min-time is Google Benchmark's, in seconds (0.5).
set -euo pipefail
rounds=8
min_time=0.5
filter='BM_Execute/|BM_Handle'
trees=()
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds="$2"; shift 2 ;;
    --min-time) min_time="$2"; shift 2 ;;
    --filter) filter="$2"; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) trees+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
[ "${#trees[@]}" -gt 0 ] || { sed -n '2,15p' "$0" >&2; exit 2; }
[ "$rounds" -ge 1 ] || { echo "execute_compare: --rounds must be at least 1" >&2; exit 2; }
for tree in "${trees[@]}"; do
  [ -x "$tree/build/bin/bench_module_execute" ] ||
    { echo "execute_compare: no release build in $tree/build" >&2; exit 2; }
done

names=()
for tree in "${trees[@]}"; do
  names+=("$(git -C "$tree" rev-parse --short HEAD 2>/dev/null || basename "$tree")")
done

results="$(mktemp /tmp/tarvik-execute-compare.XXXXXX)"
trap 'rm -f "$results"' EXIT

for round in $(seq 1 "$rounds"); do
  order=($(seq 0 $((${#trees[@]} - 1))))
  if [ $((round % 2)) -eq 0 ]; then order=($(printf '%s\n' "${order[@]}" | tac)); fi
  for t in "${order[@]}"; do
    # The benchmark reads its demo data relative to its own folder.
    (cd "${trees[$t]}/build" &&
      ./bin/bench_module_execute --benchmark_filter="$filter" --benchmark_min_time="$min_time" 2>/dev/null) |
      awk -v tree="${names[$t]}" '/^BM_/ { print $1, tree, $2 }' >>"$results"
  done
  echo "round $round of $rounds done" >&2
done

echo "Wall time per iteration in microseconds, $rounds rounds of each tree taken in turns."
echo "| benchmark | tree | median | min | rounds |"
echo "| --- | --- | --- | --- | --- |"
awk '{ key = $1 " " $2; values[key] = values[key] " " $3 } END { for (k in values) print k, values[k] }' "$results" |
  sort -k1,1 -k2,2 |
  while read -r benchmark tree values; do
    sorted=($(printf '%s\n' $values | sort -n))
    n=${#sorted[@]}
    median=$(printf '%s\n' "${sorted[@]}" |
      awk -v n="$n" '{ v[NR] = $1 } END { print (n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2) }')
    list=$(printf '%s\n' $values | awk '{ printf "%s%.1f", (NR > 1 ? ", " : ""), $1 / 1000 }')
    awk -v b="$benchmark" -v t="$tree" -v m="$median" -v lo="${sorted[0]}" -v l="$list" \
      'BEGIN { printf "| %s | %s | %.1f | %.1f | %s |\n", b, t, m / 1000, lo / 1000, l }'
  done
