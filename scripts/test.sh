#!/usr/bin/env bash
# The whole suite: a normal build, the same suite under the address and
# undefined-behaviour sanitizers, and the concurrency tests under the thread
# sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

configure() { cmake -S . -B "$1" "${@:2}" >/dev/null; }

configure build
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

configure build-asan -DJUXS_SANITIZE=address,undefined -DJUXS_BENCH=OFF
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

configure build-tsan -DJUXS_SANITIZE=thread -DJUXS_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target concurrency_tests
ctest --test-dir build-tsan --output-on-failure -L concurrency --no-tests=error
