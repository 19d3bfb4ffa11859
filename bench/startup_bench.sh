#!/usr/bin/env bash
# Start-up cost of tovi-batch beside a plain C program, side by side in one run:
# `tovi-batch --version` and a one-file run (a 24-bit 64x64 picture, processed
# in place each time), with perf stat's processor time and page faults.
#
#   bench/startup_bench.sh [TOVI_BATCH]     (RUNS, default 200)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tovi=${1:-$root/build/bin/tovi-batch}
[[ -x $tovi ]] || { echo "startup_bench: build tovi-batch first or name it" >&2; exit 2; }
command -v perf >/dev/null || { echo "startup_bench: needs perf (linux-perf)" >&2; exit 2; }
runs=${RUNS:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '#include <stdio.h>\nint main(void) { puts("plain 1.0"); return 0; }\n' > "$work/plain.c"
cc -O2 "$work/plain.c" -o "$work/plain"
python3 "$root/bench/make_bmp.py" 24 64 64 "$work/one.bmp"

measure() {
  local label=$1; shift
  perf stat -r "$runs" -e task-clock,page-faults -x, "$@" 2>"$work/stat" >/dev/null
  awk -F, -v label="$label" '
    $3 == "task-clock" { ms = $1 } $3 == "page-faults" { pf = $1 }
    END { printf "%-28s %8.3f ms processor  %6d page faults\n", label, ms, pf }' "$work/stat"
}

measure "plain C program" "$work/plain"
measure "tovi-batch --version" "$tovi" --version
measure "tovi-batch one file" "$tovi" -y --mode invert "$work/one.bmp"
