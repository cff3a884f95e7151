#!/usr/bin/env bash
# Sends the same positions to the demo configurations of several checkouts
# and compares what comes back, byte for byte: a change meant to make the
# computation faster must leave every frame and text as it was.
#
#   bench/module/frames_compare.sh [--step DEG] TREE TREE...
#
#   TREE     a checkout with a release build in TREE/build
#   --step   spacing of the positions in degrees (default 0.25): a lattice
#            over the demo database's region (DemoBinary, DemoAscii, DemoXml)
#            and over Germany (DemoGermany), with heights varying along it
#
# Each tree's server runs on a demo folder of its own under /tmp, on ports
# below the kernel's range for outgoing connections. Prints one line per
# configuration and tree, and the first differing lines if any; exits 1 when
# the replies differ, 0 when every tree answered alike.
set -euo pipefail
step=0.25
trees=()
while [ $# -gt 0 ]; do
  case "$1" in
    --step) step="$2"; shift 2 ;;
    -*) sed -n '2,17p' "$0" >&2; exit 2 ;;
    *) trees+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
[ "${#trees[@]}" -ge 2 ] || { sed -n '2,17p' "$0" >&2; exit 2; }
for tree in "${trees[@]}"; do
  [ -x "$tree/build/bin/Tarvik" ] || { echo "frames_compare: no release build in $tree/build" >&2; exit 2; }
done

work="$(mktemp -d /tmp/tarvik-frames.XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

lowest_local="$(awk '{ print $1 }' /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768)"
base=$((lowest_local - 100 * ${#trees[@]} - 200))
configs=(DemoBinary DemoAscii DemoXml DemoGermany)

positions() {  # region: lat0 lat1 lon0 lon1
  awk -v a="$1" -v b="$2" -v c="$3" -v d="$4" -v s="$step" 'BEGIN {
    k = 0
    for (lat = a; lat <= b + 1e-9; lat += s)
      for (lon = c; lon <= d + 1e-9; lon += s) {
        # Offsets off the lattice, so that the positions are not round numbers.
        printf "%.7f %.7f %.2f\n", lat + 0.0123457 * (k % 7), lon + 0.0098765 * (k % 5), 150 + 97.3 * (k % 13)
        k++
      }
  }'
}

for t in "${!trees[@]}"; do
  tree="${trees[$t]}"
  home="$work/home$t"
  p=$((base + 100 * t))
  "$tree/tools/make_demo_home.sh" --dest "$home" --build "$tree/build" \
    --ports "$((p + 1)),$((p + 2)),$((p + 3)),$((p + 4))" --caster-port "$p" --fresh >/dev/null
  "$tree/build/bin/Tarvik" --home "$home" --start all >"$work/server$t.log" 2>&1 &
  pids+=($!)
done
sleep 2

differ=0
for c in "${!configs[@]}"; do
  config="${configs[$c]}"
  if [ "$config" = DemoGermany ]; then region="47.4 54.8 6.0 14.8"; else region="46.7 48.7 12.9 16.9"; fi
  for t in "${!trees[@]}"; do
    tree="${trees[$t]}"
    port=$((base + 100 * t + c + 1))
    out="$work/$config.$t"
    : >"$out"
    # The sentences sent carry the time of day: only the replies are kept.
    while read -r lat lon height; do
      echo "== $lat $lon $height" >>"$out"
      "${trees[0]}/build/bin/tarvik-client" 127.0.0.1 "$port" --lat "$lat" --lon "$lon" --height "$height" \
        --hex --expect 3 --wait 3000 2>&1 | grep -v '^> ' >>"$out" || true
    done < <(positions $region)
    echo "$config $(git -C "$tree" rev-parse --short HEAD 2>/dev/null || basename "$tree"):" \
      "$(grep -c '^==' "$out") positions, $(wc -c <"$out") bytes of replies"
    if [ "$t" -gt 0 ] && ! cmp -s "$work/$config.0" "$out"; then
      differ=1
      echo "  differs from the first tree:"
      diff "$work/$config.0" "$out" | head -20 | sed 's/^/  /'
    fi
  done
done
[ "$differ" -eq 0 ] && echo "All replies alike."
exit "$differ"
