#!/usr/bin/env bash
# Side-by-side benchmark of the job of one file on 8000x6000 pictures: read,
# process, write back durably (tovi-batch --yes --mode M, one run per mode),
# against ImageMagick (convert -negate), GraphicsMagick (gm convert -negate),
# libvips (vips invert), netpbm (bmptopnm | pnminvert | ppmtobmp),
# dd conv=fsync copying the same file, and the durable-replace floor
# (bench/replace_floor.c: read the file, write it beside itself, syncfs,
# rename it over the old, fsync the folder). Wall time (the median of REPEAT
# runs, in milliseconds) and peak resident memory (the largest, from
# /usr/bin/time), each tool on a fresh copy of the same file, in one run;
# tovi-batch's rows give their ratio to the floor.
#
#   bench/bmp_bench.sh [TOVI_BATCH...]
#
# Several builds of tovi-batch (say, before and after a change) are measured
# side by side, named by their position (#1, #2, ...).
#
# Environment: BENCH_DIR (default /tmp/tovi-bmp-bench), FORMATS (default
# "1 4 8 rle8 16 24 32 32a"), WIDTH and HEIGHT (default 8000 and 6000),
# OTHERS=0 to leave out the other tools (the floor is always measured),
# REPEAT (default 5).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tovis=("$@")
((${#tovis[@]})) || tovis=("$root/build/bin/tovi-batch")
for tovi in "${tovis[@]}"; do
  [[ -x $tovi ]] || { echo "bmp_bench: build tovi-batch first or name it ($tovi)" >&2; exit 2; }
done
others=${OTHERS:-1}
work=${BENCH_DIR:-/tmp/tovi-bmp-bench}
formats=${FORMATS:-"1 4 8 rle8 16 24 32 32a"}
width=${WIDTH:-8000}
height=${HEIGHT:-6000}
repeat=${REPEAT:-5}

need=()
command -v convert >/dev/null || need+=(imagemagick)
command -v gm >/dev/null || need+=(graphicsmagick)
command -v vips >/dev/null || need+=(libvips-tools)
command -v pnminvert >/dev/null || need+=(netpbm)
[[ -x /usr/bin/time ]] || need+=(time)
if ((${#need[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
# ImageMagick's default policy caps pictures far below 8000x6000.
export MAGICK_WIDTH_LIMIT=100000 MAGICK_HEIGHT_LIMIT=100000 MAGICK_AREA_LIMIT=4GP MAGICK_MEMORY_LIMIT=8GiB \
       MAGICK_DISK_LIMIT=16GiB

mkdir -p "$work"
cc -O2 -o "$work/replace_floor" "$root/bench/replace_floor.c"
floor_ms=
measure() {  # label, file to copy, command (with IN and OUT)
  local label=$1 source=$2; shift 2
  local IN="$work/in.bmp" OUT="$work/out.bmp"
  local walls=() peak=0 run
  for ((run = 0; run < repeat; run++)); do
    cp "$source" "$work/in.bmp"
    sync
    local start end
    start=$(date +%s%N)
    if ! env IN="$IN" OUT="$OUT" /usr/bin/time -f '%M' -o "$work/time.txt" bash -c "$*" >/dev/null 2>&1; then
      printf '%-8s %-38s %10s\n' "$fmt" "$label" failed
      rm -f "$work/out.bmp"
      return
    fi
    end=$(date +%s%N)
    walls+=("$(((end - start + 500000) / 1000000))")
    local rss
    rss=$(tail -1 "$work/time.txt")
    ((rss <= peak)) || peak=$rss
    rm -f "$work/out.bmp"
  done
  local median
  median=$(printf '%s\n' "${walls[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
  local ratio=
  if [[ $label == tovi-batch* && -n $floor_ms && $floor_ms -gt 0 ]]; then
    ratio=$(awk -v a="$median" -v b="$floor_ms" 'BEGIN { printf "%.2fx floor", a / b }')
  fi
  [[ $label == "durable-replace floor" ]] && floor_ms=$median
  printf '%-8s %-38s %7s ms %8s MB  %s\n' "$fmt" "$label" "$median" "$((peak / 1024))" "$ratio"
}

printf '%-8s %-38s %10s %11s\n' format tool "wall (median)" peak-RSS
for fmt in $formats; do
  file=$work/pic-$fmt.bmp
  [[ -f $file ]] || python3 "$root/bench/make_bmp.py" "$fmt" "$width" "$height" "$file"
  floor_ms=
  measure "durable-replace floor" "$file" "'$work/replace_floor' \"\$IN\""
  for mode in swap invert gray invert-gray; do
    # The builds take turns within each mode, so that a shared machine's
    # load falls on all alike.
    for i in "${!tovis[@]}"; do
      label="tovi-batch --mode $mode"
      ((${#tovis[@]} == 1)) || label="tovi-batch #$((i + 1)) --mode $mode"
      measure "$label" "$file" "'${tovis[$i]}' --yes --mode $mode \"\$IN\""
    done
  done
  ((others)) || continue
  measure "ImageMagick convert -negate" "$file" 'convert "$IN" -negate "$OUT"'
  measure "GraphicsMagick gm convert -negate" "$file" 'gm convert "$IN" -negate "$OUT"'
  measure "libvips vips invert" "$file" 'vips invert "$IN" "$OUT"'
  measure "netpbm pnminvert" "$file" 'bmptopnm "$IN" | pnminvert | ppmtobmp > "$OUT"'
  measure "dd conv=fsync (copy)" "$file" 'dd if="$IN" of="$OUT" bs=4M conv=fsync status=none'
done
