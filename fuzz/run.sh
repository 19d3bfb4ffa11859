#!/usr/bin/env bash
# Runs a fuzz target for a bounded time, seeded with the BMP Suite.
# usage: fuzz/run.sh FUZZER SECONDS
set -euo pipefail
fuzzer=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
corpus_dir=${TOVI_CORPUS_DIR:-$here/../../shared/corpus/bmpsuite}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
find "$corpus_dir" -name '*.bmp' -size -200k -exec cp {} "$work/corpus/" \;
cp "$here"/regressions/* "$work/corpus/" 2>/dev/null || true
"$fuzzer" "$work/corpus" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2560 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$work/" 2>&1 | tail -n 15
echo "fuzz: no crash in ${seconds}s"
