#!/usr/bin/env bash
# The whole suite: a normal build, the module built for the host's published
# 9.6 interface through the suites that exercise it, the same suite under the
# address and undefined-behaviour sanitizers, the concurrency tests under the
# thread sanitizer, a short run of every fuzz target, the module as a
# Windows DLL with the host core, run under Wine, and the two release archives,
# unpacked and checked as a user receives them.
#
# scripts/test.sh --quick: the normal build and its tests only, for day-to-day
# work (no set-up, no other builds).
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
[ "$quick" = 1 ] || scripts/setup.sh
jobs=$(nproc)

configure() { cmake -S . -B "$1" "${@:2}" >/dev/null; }

configure build
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
[ "$quick" = 1 ] && exit 0

# The module for the host's published 9.6 versions and service names, run
# through the suites that load, activate, open panels and render.
configure build-sdk96 -DJUXS_HOST_SDK96=ON -DJUXS_BENCH=OFF
cmake --build build-sdk96 -j"$jobs" --target published_tests
ctest --test-dir build-sdk96 --output-on-failure -j"$jobs" -L published --no-tests=error

configure build-asan -DJUXS_SANITIZE=address,undefined -DJUXS_BENCH=OFF
cmake --build build-asan -j"$jobs"
# The browser checks open the same static pages as in the normal build, in
# a Chromium that is not ours: nothing of the module or host runs there.
ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE browser

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

# Windows: the module and the host core, cross-built with mingw-w64; CTest runs
# the programs under Wine (prefix and Wine's own output in build-windows). The
# suites that need the renderer, scene or image files are Linux-only: CTest
# lists them as not run.
wine_stop() { WINEPREFIX="$PWD/build-windows/wineprefix" sh cmake/wine_session.sh stop; }
trap wine_stop EXIT
configure build-windows --toolchain cmake/mingw-w64-x86_64.cmake
cmake --build build-windows -j"$jobs"
# Each suite reports its tests in a file, in its own folder: Windows programs
# read a Linux path as a relative one.
rm -rf build-windows/tests/gtest
# A test process under Wine now and then hangs when two run at once (a
# different test each time, none alone): one that times out runs once more.
GTEST_OUTPUT=xml:gtest/ ctest --test-dir build-windows --output-on-failure -j"$jobs" --timeout 120 --repeat after-timeout:2
ran=$(sed -n 's/.*<testsuites tests="\([0-9]*\)".*/\1/p' build-windows/tests/gtest/*.xml | awk '{n += $1} END {print n + 0}')
skipped=$(cat build-windows/tests/gtest/*.xml | grep -c 'result="skipped"' || true)
not_run=$(ctest --test-dir build-windows -N -L render | sed -n 's/^ *Test *#[0-9]*: \([^ ]*\).*/\1/p' | tr '\n' ' ')
echo "windows: $((ran - skipped)) tests passed under Wine in $(ls build-windows/tests/gtest/*.xml | wc -l) suites, $skipped skipped;" \
  "not run on Windows (renderer, scene or image files): ${not_run:-none}"

# The release archives, built and checked as a user receives them: each
# unpacked into an empty folder, the Windows plug-in files and hostsim.exe
# under Wine, the Linux hostsim from its unpacked folder (scripts/package.sh).
scripts/package.sh
