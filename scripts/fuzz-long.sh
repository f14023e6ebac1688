#!/usr/bin/env bash
# Long fuzzing, as a habit: builds the fuzz targets (clang, in build-fuzz, as
# scripts/test.sh does), runs each for SECONDS (default 3600) from the kept
# corpus, seeds written from the module as built and the reproducers of past
# faults, and prints a table per target: inputs run, inputs per second, new
# corpus entries (found in the run, and kept: those that add coverage to
# fuzz/corpus/TARGET, merged there with -merge=1) and faults.
#
#   scripts/fuzz-long.sh [SECONDS] [TARGET...]   TARGET: node_load, scene, network (default: all three)
#   JUXS_FUZZ_JOBS=N                            targets run at once (default and most: one per core)
#
# A run that faults is started again from its grown corpus for the time that
# is left (at most 10 faults a target), so the table counts faults. Each
# faulting input is kept as build-fuzz/long/TARGET/fault-*, the run's log
# beside it in run-*.log; the log holds the target's FUZZ STATE line, the
# module state earlier inputs left behind, for a fault the input alone does
# not bring back. On a shared machine: nice -n 19 scripts/fuzz-long.sh ...
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(node_load scene network)
for t in "${targets[@]}"; do
  case $t in node_load | scene | network) ;; *) echo "fuzz-long: no target $t" >&2; exit 2 ;; esac
done
cores=$(nproc)
jobs=${JUXS_FUZZ_JOBS:-$cores}
[ "$jobs" -le "$cores" ] || jobs=$cores
[ "$jobs" -ge 1 ] || jobs=1

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DJUXS_FUZZ=ON -DJUXS_TESTS=OFF -DJUXS_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$cores" --target "${targets[@]/#/fuzz_}" make_seeds >/dev/null
long=build-fuzz/long
seeds=$long/seeds
rm -rf "$seeds" && build-fuzz/make_seeds "$seeds" >/dev/null
mkdir -p "$seeds/scene" && cp examples/*.json "$seeds/scene/"

count() { find "$1" -maxdepth 1 -type f 2>/dev/null | wc -l; }
# libFuzzer also keeps an input that merely ran slowly (slow-unit): no fault.
faults_in() { find "$1" -maxdepth 1 -type f -name 'fault-*' ! -name 'fault-slow-unit-*' | wc -l; }

# One target for the given seconds; its table row goes to $long/TARGET/row.
fuzz_one() {
  local t=$1 dir=$long/$1
  rm -rf "$dir" && mkdir -p "$dir/found"
  local dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  local start end now run=0 inputs=0 rc log n had
  start=$(date +%s)
  end=$((start + seconds))
  while now=$(date +%s) && [ "$now" -lt "$end" ]; do
    run=$((run + 1))
    log=$dir/run-$run.log
    had=$(faults_in "$dir")
    rc=0
    "build-fuzz/fuzz_$t" -max_total_time=$((end - now)) -timeout=20 -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$dir/fault-" "${dict[@]}" \
      "$dir/found" "$seeds/$t" "fuzz/corpus/$t" "fuzz/reproducers/$t" 2>"$log" || rc=$?
    # The final count, or on a fault that stops short of it the last report.
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    [ -n "$n" ] || n=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
    inputs=$((inputs + ${n:-0}))
    [ "$rc" -ne 0 ] || break
    echo "fuzz-long: $t faulted (run $run, exit $rc): $(grep -m1 -E 'FUZZ FAULT|ERROR' "$log" || true)" >&2
    if [ "$(faults_in "$dir")" -eq "$had" ]; then
      echo "fuzz-long: $t stopped without keeping an input: see $log" >&2
      break
    fi
    [ "$(faults_in "$dir")" -lt 10 ] || break
  done
  local elapsed=$(($(date +%s) - start)) faults found before kept
  faults=$(faults_in "$dir")
  found=$(count "$dir/found")
  before=$(count "fuzz/corpus/$t")
  "build-fuzz/fuzz_$t" -merge=1 -timeout=20 -max_len=65536 "fuzz/corpus/$t" "$dir/found" 2>"$dir/merge.log" ||
    echo "fuzz-long: $t: the merge failed, see $dir/merge.log" >&2
  kept=$(($(count "fuzz/corpus/$t") - before))
  find "$dir" -maxdepth 1 -name 'fault-slow-unit-*' | sed "s/^/fuzz-long: $t: slow, not a fault: /" >&2
  printf '%-10s %8d %10d %10.1f %8d %6d %7d\n' "$t" "$elapsed" "$inputs" \
    "$(awk -v i="$inputs" -v s="$elapsed" 'BEGIN { print (s > 0 ? i / s : 0) }')" "$found" "$kept" "$faults" >"$dir/row"
}

running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  echo "fuzz-long: $t for ${seconds}s" >&2
  fuzz_one "$t" &
  running=$((running + 1))
done
wait

printf '%-10s %8s %10s %10s %8s %6s %7s\n' target seconds inputs inputs/s found kept faults
status=0
for t in "${targets[@]}"; do
  cat "$long/$t/row"
  [ "$(awk '{print $7}' "$long/$t/row")" -eq 0 ] || status=1
done
exit $status
