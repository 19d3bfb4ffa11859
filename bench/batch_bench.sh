#!/usr/bin/env bash
# Side-by-side benchmark of the batch run:
#
#   tovi-batch --yes --mode M  (each of the four modes)
#   ImageMagick   mogrify -negate
#   GraphicsMagick gm mogrify -negate
#   dd conv=fsync  (copying the large 24- and 32-bit files: the floor for a
#                   durable rewrite)
#
# over 100 files of 1000x1000 and over one 8000x6000 file, for each pixel
# format (1, 4, 8 bits, RLE8, 16-bit bit fields, 24, 32 bits). Every tool works
# on fresh copies of the same files; wall time and peak resident memory come
# from /usr/bin/time. Needs python3 to write the pictures.
#
#   bench/batch_bench.sh [TOVI_BATCH]
#
# Environment: BENCH_DIR (work folder, default /tmp/tovi-batch-bench),
# FORMATS (default "1 4 8 rle8 16 24 32"), SMALL_COUNT (default 100),
# REPEAT (runs per measurement, default 3; the median wall time is reported).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tovi=${1:-}
if [[ -z $tovi ]]; then
  for candidate in "$root/build-batch/bin/tovi-batch" "$root/build/bin/tovi-batch"; do
    [[ -x $candidate ]] && { tovi=$candidate; break; }
  done
fi
[[ -x ${tovi:-} ]] || { echo "batch_bench: build tovi-batch first or name it" >&2; exit 2; }

work=${BENCH_DIR:-/tmp/tovi-batch-bench}
formats=${FORMATS:-"1 4 8 rle8 16 24 32"}
small_count=${SMALL_COUNT:-100}
repeat=${REPEAT:-3}

# The peers and the measuring tool.
need=()
[[ -x /usr/bin/time ]] || need+=(time)
command -v gm >/dev/null || need+=(graphicsmagick)
[[ -x /usr/bin/mogrify ]] || need+=(imagemagick)
command -v python3 >/dev/null || need+=(python3)
if ((${#need[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
# The Debian package's own mogrify, not any wrapper earlier on the path.
im_mogrify=/usr/bin/mogrify

rm -rf "$work"
mkdir -p "$work/masters" "$work/run"
results="$work/results.tsv"
printf 'format\tset\ttool\twall_s\tpeak_rss_mb\n' >"$results"

echo "batch_bench: writing pictures into $work/masters" >&2
for f in $formats; do
  python3 "$root/bench/make_bmp.py" "$f" 1000 1000 "$work/masters/small-$f" "$small_count"
  mkdir -p "$work/masters/large-$f"
  python3 "$root/bench/make_bmp.py" "$f" 8000 6000 "$work/masters/large-$f/0000.bmp"
done

# record SET TOOL WALLS RSS_KB: one line of the results, with the median of
# the wall times (seconds, space-separated) and the largest peak RSS.
record() {
  awk -v set="$1" -v tool="$2" -v walls="$3" -v rss="$4" 'BEGIN {
    split(set, s, "-")
    n = split(walls, w, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (w[j] < w[i]) { t = w[i]; w[i] = w[j]; w[j] = t }
    median = (n % 2) ? w[(n + 1) / 2] : (w[n / 2] + w[n / 2 + 1]) / 2
    printf "%s\t%s\t%s\t%.3f\t%.1f\n", s[2], s[1], tool, median, rss / 1024
  }' | tee -a "$results"
}

# timed COMMAND...: runs the command under /usr/bin/time, appends its wall
# time in seconds to $walls and keeps the largest RSS seen in $peak.
walls=""
peak=0
timed() {
  local start end rss
  start=$(date +%s%N)
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "batch_bench: failed: $*" | cut -c1-200 >&2
    cat "$work/stderr.txt" >&2
  }
  end=$(date +%s%N)
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  walls="$walls $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')"
  ((rss > peak)) && peak=$rss
  return 0
}

# measure SET TOOL COMMAND...: REPEAT times, copies the set's masters afresh
# and runs the command on the copies with the file names appended. The copy is
# flushed first so that no tool pays for another's write-back.
measure() {
  local set=$1 tool=$2
  shift 2
  walls="" peak=0
  for ((r = 0; r < repeat; r++)); do
    rm -rf "$work/run" && cp -r "$work/masters/$set" "$work/run" && sync
    timed "$@" "$work/run"/*.bmp
  done
  record "$set" "$tool" "$walls" "$peak"
}

# dd copies the one large file durably: the floor for a durable rewrite.
measure_dd() {
  local set=$1
  walls="" peak=0
  for ((r = 0; r < repeat; r++)); do
    rm -rf "$work/run" && mkdir -p "$work/run" && sync
    timed dd if="$work/masters/$set/0000.bmp" of="$work/run/copy.bmp" bs=16M conv=fsync status=none
  done
  record "$set" dd-conv-fsync "$walls" "$peak"
}

for f in $formats; do
  for size in small large; do
    set="$size-$f"
    for mode in swap invert gray invert-gray; do
      measure "$set" "tovi-$mode" "$tovi" --yes --mode "$mode"
    done
    measure "$set" "imagemagick" "$im_mogrify" -negate
    measure "$set" "graphicsmagick" gm mogrify -negate
    if [[ $size == large && ($f == 24 || $f == 32) ]]; then
      measure_dd "$set"
    fi
  done
done

# Summary: each tovi mode against the fastest peer, and against dd.
echo
printf "%-6s %-6s %-18s %9s %9s %10s %9s\n" format set "tovi mode" "tovi s" "peer s" speed-up "RSS MB"
awk -F'\t' '
  NR == 1 { next }
  { key = $1 "\t" $2; t[key, $3] = $4; rss[key, $3] = $5; keys[key] = 1 }
  END {
    for (key in keys) {
      peer = t[key, "imagemagick"]; if (t[key, "graphicsmagick"] < peer) peer = t[key, "graphicsmagick"]
      split(key, k, "\t")
      n = split("swap invert gray invert-gray", modes, " ")
      for (i = 1; i <= n; i++) {
        m = "tovi-" modes[i]
        line = sprintf("%-6s %-6s %-18s %9.3f %9.3f %9.1fx %9.1f", k[1], k[2], modes[i], t[key, m], peer, peer / t[key, m], rss[key, m])
        if ((key, "dd-conv-fsync") in t) line = line sprintf("   %.2fx dd", t[key, m] / t[key, "dd-conv-fsync"])
        print line
      }
    }
  }' "$results" | sort -k2,2 -k1,1 -s
echo "batch_bench: raw figures in $results" >&2
