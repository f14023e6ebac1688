#!/usr/bin/env bash
# The main job: builds the module and the stand-in host and shows the module's
# servers as the host sees them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target JuxsNodes hostsim
build/hostsim servers build/JuxsNodes.p
