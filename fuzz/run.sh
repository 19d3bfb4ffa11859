#!/usr/bin/env bash
# Runs a fuzz target for a bounded time, starting from the BMP Suite and the
# inputs kept in fuzz/regressions/.
# usage: fuzz/run.sh FUZZER SECONDS
#
# Every input the run finds a fault with (crash, hang, memory exhaustion,
# leak) is copied into fuzz/regressions/ as <fuzzer>-<kind>-<hash>. The core
# tests replay every file there (tests/picture/fuzz_regressions_test.cpp), so
# commit the file together with the fix and the fault stays fixed.
set -euo pipefail
fuzzer=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
corpus_dir=${TOVI_CORPUS_DIR:-$here/../../shared/corpus/bmpsuite}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
find "$corpus_dir" -name '*.bmp' -size -200k -exec cp {} "$work/corpus/" \;
find "$here/regressions" -type f -size +0 -exec cp {} "$work/corpus/" \;
status=0
"$fuzzer" "$work/corpus" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2560 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$work/" 2>&1 | tail -n 15 || status=$?
shopt -s nullglob
for artifact in "$work"/crash-* "$work"/timeout-* "$work"/oom-* "$work"/leak-*; do
  kept="$here/regressions/$(basename "$fuzzer")-$(basename "$artifact")"
  cp "$artifact" "$kept"
  echo "fuzz: input kept as fuzz/regressions/$(basename "$kept")"
done
if [ "$status" -ne 0 ]; then
  echo "fuzz: $(basename "$fuzzer") failed (status $status)"
  exit "$status"
fi
echo "fuzz: no crash in ${seconds}s"
