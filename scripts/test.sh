#!/usr/bin/env bash
# Builds everything and runs every test: the full build with the windows, the
# core alone with sanitizers (no Qt in it), and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
bash packaging/check.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOVI_BUILD_GUI=OFF \
  -DTOVI_SANITIZE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTOVI_FUZZ=ON
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The reader's safety and its round-trip promise share the fuzzing time.
for fuzzer in bmp_read_fuzzer bmp_roundtrip_fuzzer; do
  if [ -x build-asan/fuzz/$fuzzer ]; then
    bash fuzz/run.sh build-asan/fuzz/$fuzzer 40
  fi
done
