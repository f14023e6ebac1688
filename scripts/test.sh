#!/usr/bin/env bash
# The whole suite: a normal build, the module built for the host's published
# 9.6 interface through the suites that exercise it, the same suite under the
# address and undefined-behaviour sanitizers, and the concurrency tests under
# the thread sanitizer.
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
