#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/ at the top) and runs
# each for a short smoke time. A finding (crash, sanitizer report, failed
# check, leak) fails the script and leaves the input in build-fuzz/findings/.
#
#   fuzz/run_smoke.sh [SECONDS per target, default 30] [TARGET...]
#
# For a long run: fuzz/run_smoke.sh 3600 fuzz_gga
# TARVIK_FUZZ_RUNS=N stops each target after N executions instead (the
# seconds then only bound the run).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-${TARVIK_FUZZ_SECONDS:-30}}"
shift || true
dir="$top/build-fuzz"
jobs="${TARVIK_JOBS:-$(nproc)}"

CC=clang CXX=clang++ cmake -S "$top/fuzz" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ $# -gt 0 ]; then targets=("$@"); else mapfile -t targets < "$dir/fuzz_targets.txt"; fi
cmake --build "$dir" -j "$jobs" --target "${targets[@]}"

# Seeds: committed examples plus the demo's data files of each reader.
seed() {  # target, data kind
  local corpus="$dir/corpus/$1"
  mkdir -p "$corpus"
  if [ -d "$top/fuzz/corpus/$1" ]; then cp -R "$top/fuzz/corpus/$1/." "$corpus/"; fi
  if [ -n "${2:-}" ]; then
    for d in "$top/demo/data/$2" "$top/build/demo-data/$2"; do
      [ -d "$d" ] && find "$d" -maxdepth 1 -type f -size -2M -exec cp {} "$corpus/" \;
    done
  fi
  return 0
}

mkdir -p "$dir/findings"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=0
summary=()
for t in "${targets[@]}"; do
  case "$t" in
    fuzz_marlo_db)
      seed "$t" marlo
      # Small inputs run much faster: the head of each database, and a
      # small one from the generator when the normal build has made it.
      for f in "$dir/corpus/$t"/*.mdb; do [ -f "$f" ] && head -n 150 "$f" > "${f%.mdb}.head"; done
      for g in "$top/build/bin/marlogen" "$top/build-asan/bin/marlogen"; do
        if [ -x "$g" ]; then "$g" --columns 2 --rows 2 --points 4 "$dir/corpus/$t/small.mdb" >/dev/null 2>&1 || true; break; fi
      done
      # Inputs beyond 32 KiB (cut to their heads) add parsing time, not paths.
      opts=(-max_len=32768) ;;
    fuzz_geoid_grid) seed "$t" geoid; opts=(-max_len=1048576) ;;
    fuzz_orvel_grid) seed "$t" orvel; opts=(-max_len=65536) ;;
    fuzz_receive_sentence) seed "$t"; opts=(-max_len=20000) ;;
    *) seed "$t"; opts=(-max_len=8192) ;;
  esac
  log="$dir/$t.log"
  if [ -n "${TARVIK_FUZZ_RUNS:-}" ]; then opts+=(-runs="$TARVIK_FUZZ_RUNS"); fi
  echo "== $t: ${seconds} s"
  if "$dir/bin/$t" "${opts[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$dir/findings/$t-" "$dir/corpus/$t" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    took="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)"
    summary+=("$t: ${runs:-?} executions in ${took:-$seconds} s, no finding")
  else
    failed=1
    summary+=("$t: FINDING, see $log and $dir/findings/")
    tail -n 40 "$log"
  fi
done
printf '%s\n' "${summary[@]}" | tee "$dir/summary.txt"
exit "$failed"
