#!/usr/bin/env bash
# Folder-scale benchmark of the batch run: tovi-batch --yes --mode invert at
# its default settings and with --jobs 1 and 8, side by side with the floor
# and with `mogrify -negate` of GraphicsMagick and of ImageMagick (a peer that
# isn't installed is left out), on fresh copies of the same files:
#
#   600x500-24     200 files of 600x500, 24 bits per pixel
#   600x500-8      200 files of 600x500, 8 bits per pixel
#   100x100-24    1000 files of 100x100, 24 bits per pixel
#   4000x3000-24    20 files of 4000x3000, 24 bits per pixel
#
# The floor (bench/replace_floor.c, built here with cc) does only what no
# durable in-place run can skip: read each file, write its bytes into a new
# file beside it, one syncfs, rename each over the old, one folder fsync.
# tovi-batch makes every file durable before it reports it. The peers flush
# nothing, so each is also timed followed by `sync -f` on the folder
# ("+sync"), the cheapest way to make their output as durable; the speed-up
# is taken against the fastest durable peer, the plain peers are listed too.
# Wall time is the median of REPEAT rounds, in which the tools take turns;
# peak memory is the largest "Maximum resident set size" of /usr/bin/time -v.
#
#   bench/folder_bench.sh [TOVI_BATCH]
#
# Environment: BENCH_DIR (work folder, default /tmp/tovi-folder-bench),
# REPEAT (default 3), JOBS (default "default 1 8"), SETS (default all four),
# PEERS (default "graphicsmagick imagemagick"). Needs python3 for the
# pictures and cc for the floor.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tovi=${1:-}
if [[ -z $tovi ]]; then
  for candidate in "$root/build/bin/tovi-batch" "$root/build-batch/bin/tovi-batch"; do
    [[ -x $candidate ]] && { tovi=$candidate; break; }
  done
fi
[[ -x ${tovi:-} ]] || { echo "folder_bench: build tovi-batch first or name it" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "folder_bench: /usr/bin/time is needed (apt-get install time)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "folder_bench: python3 is needed" >&2; exit 2; }

work=${BENCH_DIR:-/tmp/tovi-folder-bench}
repeat=${REPEAT:-3}
jobs_list=${JOBS:-"default 1 8"}
wanted_peers=${PEERS:-"graphicsmagick imagemagick"}

# The Debian packages' own programs, not any wrapper earlier on the path.
peers=()
for peer in $wanted_peers; do
  case $peer in
    imagemagick) [[ -x /usr/bin/mogrify ]] && peers+=(imagemagick) || echo "folder_bench: no ImageMagick, left out" >&2 ;;
    graphicsmagick) command -v gm >/dev/null && peers+=(graphicsmagick) || echo "folder_bench: no GraphicsMagick, left out" >&2 ;;
  esac
done
command -v cc >/dev/null || { echo "folder_bench: cc is needed for the floor" >&2; exit 2; }

rm -rf "$work"
mkdir -p "$work/masters"
results=$work/results.tsv
printf 'set\ttool\twall_s\tpeak_rss_mb\n' >"$results"

cc -O2 -o "$work/replace_floor" "$root/bench/replace_floor.c"

sets=${SETS:-"600x500-24 600x500-8 100x100-24 4000x3000-24"}
echo "folder_bench: writing pictures into $work/masters" >&2
for set in $sets; do
  case $set in
    600x500-24) python3 "$root/bench/make_bmp.py" 24 600 500 "$work/masters/$set" 200 ;;
    600x500-8) python3 "$root/bench/make_bmp.py" 8 600 500 "$work/masters/$set" 200 ;;
    100x100-24) python3 "$root/bench/make_bmp.py" 24 100 100 "$work/masters/$set" 1000 ;;
    4000x3000-24) python3 "$root/bench/make_bmp.py" 24 4000 3000 "$work/masters/$set" 20 ;;
    *) echo "folder_bench: no set $set" >&2; exit 2 ;;
  esac
done

# record SET TOOL WALLS RSS_KB: one line of the results, with the median of
# the wall times (seconds, space-separated) and the peak RSS in MB.
record() {
  awk -v set="$1" -v tool="$2" -v walls="$3" -v rss="$4" 'BEGIN {
    n = split(walls, w, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (w[j] < w[i]) { t = w[i]; w[i] = w[j]; w[j] = t }
    median = (n % 2) ? w[(n + 1) / 2] : (w[n / 2] + w[n / 2 + 1]) / 2
    printf "%s\t%s\t%.3f\t%.1f\n", set, tool, median, rss / 1024
  }' | tee -a "$results"
}

# The command of each tool; the copies' names follow it.
tools=(floor)
for jobs in $jobs_list; do tools+=("tovi-j$jobs"); done
for peer in "${peers[@]}"; do tools+=("$peer" "$peer+sync"); done
command_of() {
  case $1 in
    floor) command=("$work/replace_floor") ;;
    tovi-jdefault) command=("$tovi" --yes --mode invert) ;;
    tovi-j*) command=("$tovi" --yes --mode invert --jobs "${1#tovi-j}") ;;
    imagemagick) command=(/usr/bin/mogrify -negate) ;;
    graphicsmagick) command=(gm mogrify -negate) ;;
    # The peer, then one flush of the file system its output is on.
    *+sync) command_of "${1%+sync}" && command=(bash -c '"$@" && sync -f "${@: -1}"' flush "${command[@]}") ;;
  esac
}

# run_once SET TOOL: copies the set afresh, flushes the copy so that no tool
# pays for another's write-back, and runs the tool on the copies, adding its
# wall time and peak RSS to walls[SET TOOL] and peaks[SET TOOL].
declare -A walls peaks
run_once() {
  local set=$1 tool=$2 start end rss key="$1 $2"
  rm -rf "$work/run" && cp -r "$work/masters/$set" "$work/run" && sync
  command_of "$tool"
  start=$(date +%s%N)
  /usr/bin/time -v -o "$work/time.txt" "${command[@]}" "$work/run"/*.bmp >/dev/null 2>"$work/stderr.txt" || {
    echo "folder_bench: failed: $tool on $set" >&2
    cat "$work/stderr.txt" >&2
  }
  end=$(date +%s%N)
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  walls[$key]="${walls[$key]:-} $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')"
  ((rss > ${peaks[$key]:-0})) && peaks[$key]=$rss
  return 0
}

# The tools take turns within each round, so that a change in the machine's
# load (it may be shared) falls on all of them alike.
for set in $sets; do
  for ((r = 0; r < repeat; r++)); do
    for tool in "${tools[@]}"; do run_once "$set" "$tool"; done
  done
  for tool in "${tools[@]}"; do record "$set" "$tool" "${walls[$set $tool]}" "${peaks[$set $tool]}"; done
done

# Summary: each setting of tovi-batch against the floor, the fastest durable
# peer and the fastest plain one.
echo
printf "%-12s %-8s %8s %8s %8s %8s %14s %8s %9s %8s\n" set tovi "tovi s" "RSS MB" "floor s" "/floor" "durable peer" "peer s" "speed-up" "plain s"
awk -F'\t' '
  NR == 1 { next }
  { t[$1, $2] = $3; rss[$1, $2] = $4; sets[$1] = 1; tools[$2] = 1 }
  END {
    for (set in sets) {
      best = ""; plain = ""
      for (tool in tools) {
        if (tool ~ /^tovi/ || tool == "floor" || !((set, tool) in t)) continue
        if (tool ~ /\+sync$/) { if (best == "" || t[set, tool] < t[set, best]) best = tool }
        else if (plain == "" || t[set, tool] < t[set, plain]) plain = tool
      }
      for (tool in tools) {
        if (tool !~ /^tovi/ || !((set, tool) in t)) continue
        floor = t[set, "floor"]
        printf "%-12s %-8s %8.3f %8.1f %8.3f %7.2fx", set, substr(tool, 7), t[set, tool], rss[set, tool], floor, t[set, tool] / floor
        if (best == "") printf " %14s\n", "(no peer)"
        else printf " %14s %8.3f %8.2fx %8s\n", best, t[set, best], t[set, best] / t[set, tool], plain == "" ? "-" : sprintf("%.3f", t[set, plain])
      }
    }
  }' "$results" | sort -k1,1 -k2,2 -s
echo "folder_bench: raw figures in $results" >&2
