#!/usr/bin/env bash
# Builds the window program and starts it with the sample picture.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVI_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"
exec build/bin/tovi "$PWD/data/sample.bmp" "$@"
