#!/usr/bin/env bash
# Crash and fault check of the in-place overwrite of tovi-batch, on one large
# and one small picture:
#
#   kill      SIGKILL at a random moment of the run (KILLS times, default 200)
#   kill --backup  the same with --backup: the backup is the original, and a
#             backup killed half-way leaves no hidden extra name of the file
#   full      a small tmpfs too full for the new version
#   ulimit    a file-size limit (ulimit -f) below the new version's size
#   twice     two runs on the same file started together (TWICE times)
#   folder    SIGKILL at a random moment of a -y run over a folder of
#             FOLDER_FILES pictures (default 200), FOLDER_KILLS times (default
#             200): the run replaces them in groups
#
# After each run the file must be either the original or the fully processed
# picture (compared byte for byte with reference copies), no temporary file
# may stay beside it, and a run that reports success must have processed it.
# Two runs at once must never lose an update: the file then holds as many
# processings as runs reported success. After a folder run is killed, every
# file must be the original or the processed picture, and one more run over
# the folder must leave no temporary file and every file one processing
# further (nothing lost, nothing done twice by one run). The mode is invert-gray, which gives
# a different picture when applied twice, so a double processing shows.
#
#   bench/crash_check.sh [TOVI_BATCH]
#
# Needs root for the tmpfs mount (skipped otherwise) and python3 for the
# pictures. Environment: CHECK_DIR (default /tmp/tovi-crash-check), KILLS,
# TWICE (default 20), LARGE (WIDTHxHEIGHT, default 3000x2000).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tovi=${1:-}
if [[ -z $tovi ]]; then
  for candidate in "$root/build/bin/tovi-batch" "$root/build-batch/bin/tovi-batch"; do
    [[ -x $candidate ]] && { tovi=$candidate; break; }
  done
fi
[[ -x ${tovi:-} ]] || { echo "crash_check: build tovi-batch first or name it" >&2; exit 2; }
tovi=$(realpath "$tovi")

work=${CHECK_DIR:-/tmp/tovi-crash-check}
kills=${KILLS:-200}
twice=${TWICE:-20}
large=${LARGE:-3000x2000}
folder_kills=${FOLDER_KILLS:-200}
folder_files=${FOLDER_FILES:-200}
mode=invert-gray

cleanup() {
  if mountpoint -q "$work/tmpfs" 2>/dev/null; then umount "$work/tmpfs" || true; fi
}
trap cleanup EXIT
cleanup
rm -rf "$work"
mkdir -p "$work/masters" "$work/run" "$work/tmpfs"

python3 "$root/bench/make_bmp.py" 24 "${large%x*}" "${large#*x}" "$work/masters/large.bmp"
python3 "$root/bench/make_bmp.py" 24 64 48 "$work/masters/small.bmp"

# References: processed once and twice.
for f in large small; do
  cp "$work/masters/$f.bmp" "$work/masters/$f.once.bmp"
  "$tovi" -y --mode "$mode" "$work/masters/$f.once.bmp" >/dev/null
  cp "$work/masters/$f.once.bmp" "$work/masters/$f.twice.bmp"
  "$tovi" -y --mode "$mode" "$work/masters/$f.twice.bmp" >/dev/null
  cmp -s "$work/masters/$f.once.bmp" "$work/masters/$f.twice.bmp" && { echo "crash_check: $mode is idempotent here" >&2; exit 2; }
done

declare -A count
rows=()

# state FILE NAME: original, processed, twice or damaged.
state() {
  if cmp -s "$1" "$work/masters/$2.bmp"; then echo original
  elif cmp -s "$1" "$work/masters/$2.once.bmp"; then echo processed
  elif cmp -s "$1" "$work/masters/$2.twice.bmp"; then echo twice
  else echo damaged; fi
}

# How many temporary files a run left; they are removed, so that each run is
# judged on its own.
temporaries() {
  local n
  n=$(find "$1" -maxdepth 1 -name '.*.tovi-*' | wc -l)
  find "$1" -maxdepth 1 -name '.*.tovi-*' -delete
  echo "$n"
}

# record SCENARIO FILE STATE TEMPS OK: OK is 1 when the outcome is sound.
record() {
  local key="$1|$2"
  count[$key,runs]=$(( ${count[$key,runs]:-0} + 1 ))
  count[$key,$3]=$(( ${count[$key,$3]:-0} + 1 ))
  count[$key,temps]=$(( ${count[$key,temps]:-0} + ($4 > 0) ))
  (( $5 )) || count[$key,bad]=$(( ${count[$key,bad]:-0} + 1 ))
  [[ " ${rows[*]} " == *" $key "* ]] || rows+=("$key")
}

# How long one run takes, to spread the kills over it.
duration_ms() {
  local dir=$1 name=$2 start end
  cp "$work/masters/$name.bmp" "$dir/f.bmp"
  start=$(date +%s%N)
  "$tovi" -y --mode "$mode" "$dir/f.bmp" >/dev/null
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 + 1 ))
}

# kill_runs SCENARIO [OPTION...]: SIGKILL at random moments of runs with the
# options. With --backup the old version must be kept as f.bmp~ before the
# file is replaced (a processed file has its original as backup), and a
# backup killed between its link and its rename must leave nothing that the
# next run takes for another hard link of the file.
kill_runs() {
  local scenario=$1 name dir span i pid delay s t ok b links same note
  shift
  for name in large small; do
    dir="$work/run/$name"
    mkdir -p "$dir"
    span=$(duration_ms "$dir" "$name")
    for ((i = 0; i < kills; i++)); do
      rm -f "$dir/f.bmp~"
      cp "$work/masters/$name.bmp" "$dir/f.bmp"
      "$tovi" -y --mode "$mode" "$@" "$dir/f.bmp" >/dev/null 2>&1 &
      pid=$!
      delay=$(( RANDOM % (span + span / 4 + 1) ))
      sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
      kill -KILL "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      s=$(state "$dir/f.bmp" "$name")
      t=$(find "$dir" -maxdepth 1 -name '.*.tovi-*' | wc -l)
      ok=1
      [[ $s == original || $s == processed ]] || ok=0
      if [[ -e $dir/f.bmp~ ]]; then
        b=$(state "$dir/f.bmp~" "$name")
        [[ $b == original ]] || ok=0
      elif [[ $* == *--backup* && $s == processed ]]; then
        ok=0
      fi
      if (( t > 0 )); then
        # Killed between naming a temporary file and renaming it (two system
        # calls): the next run on the file must remove it, and count as the
        # file's other names only the real ones (a backup's).
        key="$scenario|$name"
        count[$key,cleared]=$(( ${count[$key,cleared]:-0} + 1 ))
        same=0
        [[ -e $dir/f.bmp~ && $(stat -c %i "$dir/f.bmp~") == $(stat -c %i "$dir/f.bmp") ]] && same=1
        "$tovi" -y --mode "$mode" "$dir/f.bmp" >/dev/null 2>"$work/next.err" || true
        note=0
        grep -q 'ハードリンク' "$work/next.err" && note=1
        (( note == same )) || ok=0
      fi
      t=$(temporaries "$dir")
      (( t == 0 )) || ok=0
      record "$scenario" "$name" "$s" "$t" "$ok"
    done
  done
}

echo "crash_check: $kills kills per file" >&2
kill_runs kill
echo "crash_check: $kills kills per file, --backup" >&2
kill_runs "kill --backup" --backup

# A run that must fail cleanly: exit status 2, the original, no temporary file.
expect_failure() {
  local scenario=$1 name=$2 dir=$3 status=$4
  local s t ok=1
  s=$(state "$dir/f.bmp" "$name")
  t=$(temporaries "$dir")
  [[ $status == 2 && $s == original && $t == 0 ]] || ok=0
  record "$scenario" "$name" "$s" "$t" "$ok"
}

if [[ $(id -u) == 0 ]]; then
  echo "crash_check: full tmpfs" >&2
  for name in large small; do
    size=$(stat -c %s "$work/masters/$name.bmp")
    mount -t tmpfs -o size=$(( size + 64 * 1024 )) tovi-check "$work/tmpfs"
    cp "$work/masters/$name.bmp" "$work/tmpfs/f.bmp"
    # Whatever room is left is taken, down to a few blocks.
    dd if=/dev/zero of="$work/tmpfs/filler" bs=4096 count=$(( (64 * 1024 - 8192) / 4096 )) status=none 2>/dev/null || true
    status=0
    "$tovi" -y --mode "$mode" "$work/tmpfs/f.bmp" >/dev/null 2>"$work/full.err" || status=$?
    expect_failure "full tmpfs" "$name" "$work/tmpfs" "$status"
    umount "$work/tmpfs"
  done
else
  echo "crash_check: not root, no tmpfs" >&2
fi

echo "crash_check: ulimit -f" >&2
for name in large small; do
  dir="$work/run/$name"
  cp "$work/masters/$name.bmp" "$dir/f.bmp"
  size=$(stat -c %s "$work/masters/$name.bmp")
  limit=$(( size / 2048 ))  # half the file, in blocks of 1024 bytes
  status=0
  (ulimit -f "$limit"; exec "$tovi" -y --mode "$mode" "$dir/f.bmp") >/dev/null 2>"$work/ulimit.err" || status=$?
  expect_failure "ulimit -f" "$name" "$dir" "$status"
done

echo "crash_check: two runs at once, $twice times per file" >&2
for name in large small; do
  dir="$work/run/$name"
  for ((i = 0; i < twice; i++)); do
    cp "$work/masters/$name.bmp" "$dir/f.bmp"
    "$tovi" -y --mode "$mode" "$dir/f.bmp" >/dev/null 2>"$work/a.err" &
    a=$!
    "$tovi" -y --mode "$mode" "$dir/f.bmp" >/dev/null 2>"$work/b.err" &
    b=$!
    sa=0; wait "$a" || sa=$?
    sb=0; wait "$b" || sb=$?
    successes=$(( (sa == 0) + (sb == 0) ))
    s=$(state "$dir/f.bmp" "$name")
    t=$(temporaries "$dir")
    ok=1
    case $successes in
      1) [[ $s == processed ]] || ok=0 ;;
      2) [[ $s == twice ]] || ok=0 ;;  # one after the other
      *) ok=0 ;;
    esac
    for st in "$sa" "$sb"; do [[ $st == 0 || $st == 2 ]] || ok=0; done
    (( t == 0 )) || ok=0
    record "two at once" "$name" "$s" "$t" "$ok"
  done
done

echo "crash_check: $folder_kills kills of a run over $folder_files files" >&2
# References: every file of the folder, processed once and twice, by name and
# content hash.
declare -A folder_ref
python3 "$root/bench/make_bmp.py" 24 200 150 "$work/masters/folder" "$folder_files"
cp -r "$work/masters/folder" "$work/masters/folder.once"
"$tovi" -y --mode "$mode" "$work/masters/folder.once"/*.bmp >/dev/null
cp -r "$work/masters/folder.once" "$work/masters/folder.twice"
"$tovi" -y --mode "$mode" "$work/masters/folder.twice"/*.bmp >/dev/null
for kind in "" .once .twice; do
  state=original; [[ $kind == .once ]] && state=processed; [[ $kind == .twice ]] && state=twice
  while read -r hash file; do folder_ref[${file##*/},$hash]=$state; done < <(md5sum "$work/masters/folder$kind"/*.bmp)
done
# folder_states DIR: "original processed twice damaged" counts of the files.
folder_states() {
  local o=0 p=0 w=0 d=0 hash file
  while read -r hash file; do
    case ${folder_ref[${file##*/},$hash]:-damaged} in
      original) o=$((o + 1)) ;; processed) p=$((p + 1)) ;; twice) w=$((w + 1)) ;; *) d=$((d + 1)) ;;
    esac
  done < <(md5sum "$1"/*.bmp)
  echo "$o $p $w $d"
}
fdir="$work/run/folder"
declare -A fc
if (( folder_kills > 0 )); then
  rm -rf "$fdir" && cp -r "$work/masters/folder" "$fdir"
  start=$(date +%s%N)
  "$tovi" -y --mode "$mode" "$fdir"/*.bmp >/dev/null
  fspan=$(( ($(date +%s%N) - start) / 1000000 + 1 ))
fi
for ((i = 0; i < folder_kills; i++)); do
  rm -rf "$fdir" && cp -r "$work/masters/folder" "$fdir"
  "$tovi" -y --mode "$mode" "$fdir"/*.bmp >/dev/null 2>&1 &
  pid=$!
  delay=$(( RANDOM % (fspan + fspan / 4 + 1) ))
  sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  read -r o p w d < <(folder_states "$fdir")
  fc[runs]=$(( ${fc[runs]:-0} + 1 ))
  fc[original]=$(( ${fc[original]:-0} + o )); fc[processed]=$(( ${fc[processed]:-0} + p ))
  fc[damaged]=$(( ${fc[damaged]:-0} + d + w ))
  (( o > 0 && p > 0 )) && fc[mixed]=$(( ${fc[mixed]:-0} + 1 ))
  left=$(find "$fdir" -maxdepth 1 -name '.*.tovi-*' | wc -l)
  fc[left]=$(( ${fc[left]:-0} + left ))
  ok=1
  (( d + w == 0 )) || ok=0
  # One more run: everything one processing further, no temporary file.
  "$tovi" -y --mode "$mode" "$fdir"/*.bmp >/dev/null 2>&1 || ok=0
  read -r o2 p2 w2 d2 < <(folder_states "$fdir")
  (( o2 == 0 && d2 == 0 && p2 == o && w2 == p )) || ok=0
  staying=$(find "$fdir" -maxdepth 1 -name '.*.tovi-*' | wc -l)
  fc[staying]=$(( ${fc[staying]:-0} + staying ))
  (( staying == 0 )) || ok=0
  (( ok )) || fc[bad]=$(( ${fc[bad]:-0} + 1 ))
done

printf '\n| check | file | runs | original | processed | processed twice | damaged | temporary file removed by the next run | temporary file staying | unsound outcomes |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
for key in "${rows[@]}"; do
  printf '| %s | %s | %d | %d | %d | %d | %d | %d | %d | %d |\n' "${key%|*}" "${key#*|}" \
    "${count[$key,runs]:-0}" "${count[$key,original]:-0}" "${count[$key,processed]:-0}" \
    "${count[$key,twice]:-0}" "${count[$key,damaged]:-0}" "${count[$key,cleared]:-0}" \
    "${count[$key,temps]:-0}" "${count[$key,bad]:-0}"
done
if (( folder_kills > 0 )); then
  printf '\n| check | files | runs | files original | files processed | files damaged | runs with both | temporary files after the kill | temporary files after the next run | unsound runs |\n'
  printf '|---|---|---|---|---|---|---|---|---|---|\n'
  printf '| folder kill | %d | %d | %d | %d | %d | %d | %d | %d | %d |\n' "$folder_files" "${fc[runs]:-0}" \
    "${fc[original]:-0}" "${fc[processed]:-0}" "${fc[damaged]:-0}" "${fc[mixed]:-0}" "${fc[left]:-0}" \
    "${fc[staying]:-0}" "${fc[bad]:-0}"
fi
bad=${fc[bad]:-0}
for key in "${rows[@]}"; do bad=$(( bad + ${count[$key,bad]:-0} )); done
echo
echo "large: $large 24-bit ($(stat -c %s "$work/masters/large.bmp") bytes), small: 64x48 24-bit; folder: $folder_files of 200x150 24-bit; mode $mode"
exit $(( bad > 0 ))
