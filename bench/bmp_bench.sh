#!/usr/bin/env bash
# Side-by-side benchmark of the job of one file on 8000x6000 pictures: read,
# process, write back durably (tovi-batch --yes --mode M, one run per mode),
# against ImageMagick (convert -negate), GraphicsMagick (gm convert -negate),
# libvips (vips invert), netpbm (bmptopnm | pnminvert | ppmtobmp),
# dd conv=fsync copying the same file, and the durable-replace floor
# (bench/replace_floor.c: read the file, write it beside itself, syncfs,
# rename it over the old, fsync the folder). Wall time and peak resident memory from
# /usr/bin/time, each tool on a fresh copy of the same file, in one run.
#
#   bench/bmp_bench.sh [TOVI_BATCH...]
#
# Several builds of tovi-batch (say, before and after a change) are measured
# side by side, named by their position (#1, #2, ...).
#
# Environment: BENCH_DIR (default /tmp/tovi-bmp-bench), FORMATS (default
# "1 4 8 rle8 16 24 32 32a"), WIDTH and HEIGHT (default 8000 and 6000),
# OTHERS=0 to leave out the other tools.
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
measure() {  # label, file to copy, command (with IN and OUT)
  local label=$1 source=$2; shift 2
  cp "$source" "$work/in.bmp"
  sync
  local IN="$work/in.bmp" OUT="$work/out.bmp"
  local result
  if result=$(env IN="$IN" OUT="$OUT" /usr/bin/time -f '%e %M' -o "$work/time.txt" bash -c "$*" >/dev/null 2>&1); then
    result=$(tail -1 "$work/time.txt")
    printf '%-8s %-38s %8s s %8s MB\n' "$fmt" "$label" "${result% *}" "$(( ${result#* } / 1024 ))"
  else
    printf '%-8s %-38s %10s\n' "$fmt" "$label" failed
  fi
  rm -f "$work/out.bmp"
}

printf '%-8s %-38s %10s %11s\n' format tool wall peak-RSS
for fmt in $formats; do
  file=$work/pic-$fmt.bmp
  [[ -f $file ]] || python3 "$root/bench/make_bmp.py" "$fmt" "$width" "$height" "$file"
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
  measure "durable-replace floor" "$file" "'$work/replace_floor' \"\$IN\""
done
