#!/usr/bin/env bash
# The main job: builds the module and the stand-in host, renders the showcase
# scene with every node of the module, and says where the picture is.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target JuxsNodes hostsim
build/hostsim render examples/showcase.json -o build/showcase.png
echo "showcase: the picture is $(pwd)/build/showcase.png (examples/showcase.png is the one checked in)"
