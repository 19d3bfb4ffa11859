#!/usr/bin/env bash
# The parallel run under load for minutes: many rounds over thousands of small
# and header-only files (each declaring a 30000x30000 picture, too large to
# share the memory budget, so the run keeps switching between every job and a
# single one), with several job counts, output to a pipe read slowly, to a file
# and to a pipe read at once. Each run has a time limit (timeout); a run that
# hits it, exits with another status or misses a line or its order is counted
# as a failure. The longer sibling of the test ParallelStressTest.
#
#   bench/parallel_stress.sh [TOVI_BATCH]
#
# Environment: STRESS_DIR (work folder, default /dev/shm/tovi-stress when
# /dev/shm exists, else /tmp/tovi-stress), ROUNDS (default 20), FILES (default
# 5000), JOBS (default "2 3 8 32"), LIMIT (seconds per run, default 120).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tovi=${1:-}
if [[ -z $tovi ]]; then
  for candidate in "$root/build-core/bin/tovi-batch" "$root/build/bin/tovi-batch"; do
    [[ -x $candidate ]] && { tovi=$candidate; break; }
  done
fi
[[ -x ${tovi:-} ]] || { echo "parallel_stress: build tovi-batch first or name it" >&2; exit 2; }

default_dir=/tmp/tovi-stress
[[ -d /dev/shm && -w /dev/shm ]] && default_dir=/dev/shm/tovi-stress
work=${STRESS_DIR:-$default_dir}
rounds=${ROUNDS:-20}
files=${FILES:-5000}
jobs=${JOBS:-"2 3 8 32"}
limit=${LIMIT:-120}

rm -rf "$work"
mkdir -p "$work/p"
trap 'rm -rf "$work"' EXIT

# The pictures and the lines a run must print, in the order of the names.
python3 - "$work" "$files" <<'PY'
import struct, sys
work, count = sys.argv[1], int(sys.argv[2])
def headers(width, height, image):
    return (b'BM' + struct.pack('<IHHI', 54 + image, 0, 0, 54) +
            struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, image, 2835, 2835, 0, 0))
small = headers(4, 1, 12) + bytes([255, 255, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0])
large = headers(30000, 30000, 30000 * 30000 * 3)
with open(work + '/expected', 'w', encoding='utf-8') as expected:
    expected.write('Tovi for XP 連続処理の結果\nフォルダ:\t%s/p/\n' % work)
    for i in range(count):
        name = '%05d.bmp' % i
        is_large = i % 7 in (1, 4)
        with open('%s/p/%s' % (work, name), 'wb') as f:
            f.write(large if is_large else small)
        expected.write(('処理できませんでした:\t%s\t未サポートフォーマット\n' if is_large else
                        '色交換モード処理しました:\t%s\n') % name)
PY

slow_reader() {
  # 512 bytes at a time, a pause after each.
  python3 -c '
import sys, time
out = open(sys.argv[1], "wb")
while True:
    data = sys.stdin.buffer.read1(512)
    if not data:
        break
    out.write(data)
    time.sleep(0.0005)
' "$1"
}

runs=0
failures=0
started=$SECONDS
for round in $(seq 1 "$rounds"); do
  for j in $jobs; do
    for output in slow-pipe file pipe; do
      runs=$((runs + 1))
      status=0
      case $output in
        slow-pipe) timeout -s KILL "$limit" "$tovi" -y -j "$j" "$work"/p/*.bmp 2>"$work/err" | slow_reader "$work/out" || status=${PIPESTATUS[0]} ;;
        file) timeout -s KILL "$limit" "$tovi" -y -j "$j" "$work"/p/*.bmp >"$work/out" 2>"$work/err" || status=$? ;;
        pipe) timeout -s KILL "$limit" "$tovi" -y -j "$j" "$work"/p/*.bmp 2>"$work/err" | cat >"$work/out" || status=${PIPESTATUS[0]} ;;
      esac
      if [[ $status -ne 1 ]] || ! cmp -s "$work/out" "$work/expected"; then
        failures=$((failures + 1))
        echo "round $round, -j $j, $output: status $status, $(wc -l <"$work/out") of $(wc -l <"$work/expected") lines" >&2
      fi
    done
  done
  echo "round $round of $rounds: $runs runs, $failures failed, $((SECONDS - started)) s"
done
echo "parallel_stress: $runs runs over $files files each, $failures failed, $((SECONDS - started)) s in all"
[[ $failures -eq 0 ]]
