#!/usr/bin/env bash
# The whole suite: a normal build, the module built for the host's published
# 9.6 interface through the suites that exercise it, the same suite under the
# address and undefined-behaviour sanitizers, the concurrency tests under the
# thread sanitizer, and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

configure() { cmake -S . -B "$1" "${@:2}" >/dev/null; }

configure build
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# The module for the host's published 9.6 versions and service names, run
# through the suites that load, activate, open panels and render.
configure build-sdk96 -DJUXS_HOST_SDK96=ON -DJUXS_BENCH=OFF
cmake --build build-sdk96 -j"$jobs" --target published_tests
ctest --test-dir build-sdk96 --output-on-failure -j"$jobs" -L published --no-tests=error

configure build-asan -DJUXS_SANITIZE=address,undefined -DJUXS_BENCH=OFF
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

configure build-tsan -DJUXS_SANITIZE=thread -DJUXS_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target concurrency_tests
ctest --test-dir build-tsan --output-on-failure -L concurrency --no-tests=error

# Each fuzz target for a fixed short time (JUXS_FUZZ_SECONDS, default 60),
# from the kept corpus, the reproducers of past faults and seeds written from
# the module as built now, so that a node added today is fuzzed today.
CC=clang CXX=clang++ configure build-fuzz -DJUXS_FUZZ=ON -DJUXS_TESTS=OFF -DJUXS_BENCH=OFF
cmake --build build-fuzz -j"$jobs" --target fuzz_node_load fuzz_scene fuzz_network make_seeds
seconds=${JUXS_FUZZ_SECONDS:-60}
seeds=build-fuzz/seeds
rm -rf "$seeds" && build-fuzz/make_seeds "$seeds" >/dev/null
mkdir -p "$seeds/scene" && cp examples/*.json "$seeds/scene/"
for t in node_load scene network; do
  found=build-fuzz/found/$t
  mkdir -p "$found"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "fuzz: $t for ${seconds}s" >&2
  build-fuzz/fuzz_$t -max_total_time="$seconds" -timeout=20 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/fault-$t-" "${dict[@]}" \
    "$found" "$seeds/$t" "fuzz/corpus/$t" "fuzz/reproducers/$t" 2>build-fuzz/fuzz-$t.log ||
    { tail -n 60 build-fuzz/fuzz-$t.log >&2; echo "fuzz: $t found a fault; the input is in build-fuzz/fault-$t-*" >&2; exit 1; }
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' build-fuzz/fuzz-$t.log | sed "s/^/fuzz: $t: /" >&2
done
