#!/usr/bin/env bash
# Checks what a built tree installs and packages:
#
#   bash packaging/check.sh <build folder> [--install-deb]
#
# installs into a temporary prefix and runs the installed programs from there
# (the window program under a private X server, where F1 must open the help
# file from beside it), validates the desktop entry, icons and manual pages,
# then builds the Debian package and checks its fields, file list and
# dependencies. With --install-deb (as root) it also installs the package on
# this machine with apt-get, checks it and purges it again.
#
# One line per check, PASS or FAIL; exits 1 when any check failed.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <build folder> [--install-deb]" >&2
  exit 64
fi
build=$(cd "$1" && pwd) || exit 1
install_deb=false
[ "${2:-}" = --install-deb ] && install_deb=true

failures=0
SECONDS=0
pass() { printf 'PASS  %s\n' "$*"; }
fail() { printf 'FAIL  %s\n' "$*"; failures=$((failures + 1)); }
check() {  # check "what is checked" command...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

env_file=$build/packaging/installed.env
if [ ! -f "$env_file" ]; then
  fail "$env_file exists (configure $build with the windows on)"
  exit 1
fi
version=; programdir=; bindir=; datadir=; mandir=; license=; help_engine=; help_file=
# shellcheck source=/dev/null
. "$env_file"
help_file_name=${help_file##*/}

# Resolved, so that paths compare equal to what the kernel reports.
tmp=$(cd "$(mktemp -d /tmp/tovi-check.XXXXXX)" && pwd -P)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# ---------------------------------------------------------------- install ----

root=$tmp/root
if cmake --install "$build" --prefix "$root" >"$tmp/install.log" 2>&1; then
  pass "cmake --install into a temporary prefix"
else
  fail "cmake --install into a temporary prefix:"
  sed 's/^/      /' "$tmp/install.log"
  exit 1
fi

program=$root/$programdir/tovi
check "the window program is in $programdir/" test -x "$program"
check "$help_file_name is beside the window program" test -f "$root/$programdir/$help_file_name"
check "the help engine $help_engine is beside the window program" test -f "$root/$programdir/$help_engine"
check "tovi-batch is in $bindir/" test -x "$root/$bindir/tovi-batch"

link=$root/$bindir/tovi
link_ok() {
  [ -L "$link" ] && [[ $(readlink "$link") != /* ]] && [ "$(readlink -f "$link")" = "$(readlink -f "$program")" ]
}
check "$bindir/tovi is a relative link to $programdir/tovi" link_ok

elf_files=("$program" "$root/$programdir/$help_engine" "$root/$bindir/tovi-batch")
no_build_run_path() {
  local f
  for f in "${elf_files[@]}"; do
    if readelf -d "$f" | grep -E '\((RPATH|RUNPATH)\)' | grep -q "$build"; then
      echo "      $f still searches the build folder:" && readelf -d "$f" | grep -E 'RPATH|RUNPATH'
      return 1
    fi
  done
}
check "no installed program or module searches the build folder for libraries" no_build_run_path

libraries_found() {
  local f
  for f in "${elf_files[@]}"; do
    if ldd "$f" | grep -q 'not found'; then
      echo "      $f:" && ldd "$f" | grep 'not found'
      return 1
    fi
  done
}
check "every library of the installed programs and module is found" libraries_found

# ---------------------------------------------------- the installed programs ----

batch_version=$("$root/$bindir/tovi-batch" --version 2>&1)
check "installed tovi-batch --version prints \"tovi-batch $version\" (got \"$batch_version\")" \
  test "$batch_version" = "tovi-batch $version"

# ------------------------------------------------------ desktop entry, icons ----

desktop=$root/$datadir/applications/tovi.desktop
check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$desktop"
entry() { sed -n "s/^$1=//p" "$desktop" | head -n1; }
check "the desktop entry runs \"tovi %f\", which is installed in $bindir/" \
  test "$(entry Exec)" = "tovi %f" -a -x "$root/$bindir/tovi"
check "the desktop entry opens image/bmp and image/x-bmp" \
  test "$(entry MimeType)" = "image/bmp;image/x-bmp;"
check "the desktop entry is in the Graphics category" grep -qE '^Categories=(.*;)?Graphics;' "$desktop"

icon=$(entry Icon)
icons_ok() {
  local size f ok=0
  for size in 16 32 48; do
    f=$root/$datadir/icons/hicolor/${size}x${size}/apps/$icon.png
    if ! file "$f" | grep -q "PNG image data, $size x $size,"; then
      echo "      $f is not a $size x $size PNG: $(file -b "$f" 2>&1)" && ok=1
    fi
  done
  f=$root/$datadir/icons/hicolor/scalable/apps/$icon.svg
  if ! grep -q '<svg' "$f" 2>/dev/null; then
    echo "      $f is not an SVG drawing" && ok=1
  fi
  return $ok
}
check "icon \"$icon\" is in hicolor at 16, 32, 48 and scalable" icons_ok

# ---------------------------------------------------- the window program ----

# Started as a file manager starts it, from the desktop entry's Exec line with
# a BMP for %f and bin/ on the PATH, under a private X server. It must open
# the BMP, and F1 must load the help engine and the help file from the
# program folder (both are looked for beside the resolved executable).
display=
start_x_server() {
  local display_file=$tmp/display i
  if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    echo "      Xvfb and xdotool are needed (scripts/setup.sh installs them)"
    return 1
  fi
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$display_file" 2>"$tmp/xvfb.log" &
  pids+=($!)
  for i in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  display=:$(head -n1 "$display_file")
  for i in $(seq 50); do DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "      Xvfb did not start" && sed 's/^/      /' "$tmp/xvfb.log"
  return 1
}
wait_for_window() {  # wait_for_window <title pattern>: prints the window's id
  local i window
  for i in $(seq 200); do
    window=$(DISPLAY=$display xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)
    [ -n "$window" ] && echo "$window" && return 0
    kill -0 "$program_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# A 1 x 1 picture, 24 bits per pixel.
bmp=$tmp/picture.bmp
printf 'BM\x3a\0\0\0\0\0\0\0\x36\0\0\0(\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xff\xff\xff\0' >"$bmp"

program_pid=
main_window=
# opens_the_bmp <desktop entry> <folder of commands>: runs the entry's Exec
# line with the BMP for %f, the folder first on the PATH, and waits for the
# main window to show the BMP's name.
opens_the_bmp() {
  [ -n "$display" ] || start_x_server || return 1
  local command
  command=$(sed -n 's/^Exec=//p' "$1" | head -n1)
  command=${command//%f/$bmp}
  # shellcheck disable=SC2086  # the Exec line is split into words as a launcher does
  (cd "$tmp" && exec env -u WAYLAND_DISPLAY DISPLAY="$display" QT_QPA_PLATFORM=xcb PATH="$2:$PATH" \
    $command >"$tmp/tovi.log" 2>&1) &
  program_pid=$!
  pids+=("$program_pid")
  if ! main_window=$(wait_for_window "^Tovi for XP -\[${bmp##*/}\]\$"); then
    echo "      no window \"Tovi for XP -[${bmp##*/}]\" appeared; windows:"
    DISPLAY=$display xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | sed 's/^/        /'
    echo "      the program said:" && sed 's/^/        /' "$tmp/tovi.log"
    return 1
  fi
}
check "the window program, started by the desktop entry's Exec line, opens the BMP given for %f" \
  opens_the_bmp "$desktop" "$root/$bindir"

finds_its_help() {
  [ -n "$main_window" ] || return 1
  # No window manager here: give the window the keyboard, then press F1 as
  # a real key (XTEST).
  DISPLAY=$display timeout 5 xdotool windowfocus --sync "$main_window"
  DISPLAY=$display xdotool key F1
  local ok=0
  if wait_for_window "^Tovi for XP ヘルプ\$" >/dev/null; then
    echo "      a help window shows the help file's title"
  else
    echo "      no help window titled \"Tovi for XP ヘルプ\" appeared" && ok=1
  fi
  if grep -qF "$root/$programdir/$help_engine" "/proc/$program_pid/maps"; then
    echo "      the help engine was loaded from $programdir/"
  else
    echo "      the help engine was not loaded from $programdir/" && ok=1
  fi
  if readlink -f "/proc/$program_pid/fd/"* 2>/dev/null | grep -qxF "$root/$programdir/$help_file_name"; then
    echo "      $help_file_name was opened from $programdir/"
  else
    echo "      $help_file_name was not opened from $programdir/" && ok=1
  fi
  return $ok
}
check "the window program, started as $bindir/tovi, opens its help file from beside itself on F1" finds_its_help
kill "$program_pid" 2>/dev/null

# ------------------------------------------------------------ manual pages ----

man_page_ok() {  # man_page_ok <page file>: man renders it without a warning
  local out=$tmp/man.out err=$tmp/man.err
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$1" >"$out" 2>"$err"
  if [ -s "$err" ] || [ ! -s "$out" ]; then
    sed 's/^/      /' "$err"
    return 1
  fi
}
for page in tovi tovi-batch; do
  check "man --warnings renders $page(1) without a warning" man_page_ok "$root/$mandir/man1/$page.1.gz"
done

man_text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$root/$mandir/man1/tovi-batch.1.gz" 2>/dev/null | col -b)
help_text=$("$root/$bindir/tovi-batch" --help)
options_documented() {
  local option ok=0
  for option in $(grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' <<<"$help_text" | tr -d ' ,' | sort -u); do
    if ! grep -qE -- "(^|[^a-zA-Z-])$option([^a-zA-Z0-9-]|\$)" <<<"$man_text"; then
      echo "      tovi-batch --help lists $option, the manual page does not" && ok=1
    fi
  done
  return $ok
}
check "the manual page of tovi-batch describes every option that --help lists" options_documented
exit_codes_documented() {
  local code ok=0
  local exit_status
  exit_status=$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$man_text")
  for code in $(sed -n '/終了コード/,$p' <<<"$help_text" | grep -oE '(:|,|^) *[0-9]+ ' | grep -oE '[0-9]+'); do
    if ! grep -qE "^ +$code +[A-Z]" <<<"$exit_status"; then
      echo "      tovi-batch --help gives exit status $code, the manual page does not" && ok=1
    fi
  done
  return $ok
}
check "the manual page of tovi-batch describes every exit status that --help gives" exit_codes_documented

# ----------------------------------------------------------------- licence ----

copyright=$root/$datadir/doc/tovi/copyright
# copyright_ok <file>: Debian's machine-readable format, one paragraph for every
# file under the MIT (Expat) licence, whose text is that of LICENSE.
copyright_ok() {
  local ok=0 body
  if [ "$(head -n1 "$1")" != "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]; then
    echo "      the first line is not the Format: field of the 1.0 format" && ok=1
  fi
  local wanted
  for wanted in "Files: *" "Copyright: 2026 The Tovi for XP developers" "License: Expat"; do
    grep -qxF "$wanted" "$1" || { echo "      no \"$wanted\" line" && ok=1; }
  done
  # The licence text follows its License: line, each line indented by one blank,
  # blank lines written as " .".
  body=$(sed -n '/^License: Expat$/,/^$/p' "$1" | sed '1d; /^$/d; s/^ //; s/^\.$//')
  if [ "$body" != "$(sed -n '5,$p' "$license")" ]; then
    echo "      the licence text differs from LICENSE after its copyright line" && ok=1
  fi
  return $ok
}
check "the licence is installed as $datadir/doc/tovi/copyright in Debian's format, with the text of LICENSE" \
  copyright_ok "$copyright"
for page in tovi tovi-batch; do
  check "the manual page of $page names the MIT licence" \
    grep -qE '^MIT licen[cs]e|MIT licen[cs]e' <(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$root/$mandir/man1/$page.1.gz" 2>/dev/null | sed -n '/^COPYRIGHT/,/^[A-Z]/p')
done

# --------------------------------------------------------- Debian package ----

if (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/deb") >"$tmp/cpack.log" 2>&1; then
  pass "cpack -G DEB"
else
  fail "cpack -G DEB:"
  sed 's/^/      /' "$tmp/cpack.log"
  exit 1
fi
debs=("$tmp"/deb/tovi_"$version"_*.deb)
deb=${debs[0]}
check "the package file is named tovi_${version}_<architecture>.deb (${deb##*/})" test -f "$deb"

field() { dpkg-deb -f "$deb" "$1"; }
check "Package: tovi" test "$(field Package)" = tovi
check "Version: $version" test "$(field Version)" = "$version"
check "Section: graphics" test "$(field Section)" = graphics
check "Maintainer: $(field Maintainer)" test -n "$(field Maintainer)"

depends=$(field Depends)
echo "      Depends: $depends"
# Every library the programs and the module load directly must come from a
# package named in Depends, and the Qt platform plugins must be there too.
depends_cover_libraries() {
  local f soname owners ok=0
  local names
  names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/:.*//; s/ //g')
  for f in "${elf_files[@]}"; do
    for soname in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      owners=$(dpkg -S "*/$soname" 2>/dev/null | cut -d: -f1 | tr ',' '\n' | sed 's/ //g' | sort -u)
      if ! grep -qxF -f <(printf '%s\n' $owners) <<<"$names"; then
        echo "      ${f##*/} needs $soname (from ${owners:-no package}), not in Depends" && ok=1
      fi
    done
  done
  if ! grep -qx qt6-qpa-plugins <<<"$names"; then
    echo "      qt6-qpa-plugins (the Qt platform plugins) is not in Depends" && ok=1
  fi
  return $ok
}
check "Depends covers every library of the programs and the module, and the Qt platform plugins" \
  depends_cover_libraries

# The package holds exactly what cmake --install installs, under /usr.
(cd "$root" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort) >"$tmp/installed.list"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort >"$tmp/packaged.list"
same_files() {
  if ! diff -u "$tmp/installed.list" "$tmp/packaged.list" >"$tmp/files.diff"; then
    sed 's/^/      /' "$tmp/files.diff"
    return 1
  fi
  if dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -qv '^\./$'; then
    echo "      files outside /usr:" && dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/'
    return 1
  fi
}
check "the package holds the installed files under /usr ($(wc -l <"$tmp/packaged.list") files)" same_files
check "the package links /usr/bin/tovi to ../lib/tovi/tovi" \
  grep -qE "^l.* \./usr/$bindir/tovi -> \.\./.*$programdir/tovi\$" <(dpkg-deb -c "$deb" | sed 's/ \+/ /g')

dpkg-deb -x "$deb" "$tmp/unpacked"
unpacked_version=$("$tmp/unpacked/usr/$bindir/tovi-batch" --version 2>&1)
check "the package's /usr/share/doc/tovi/copyright is the licence in Debian's format" \
  copyright_ok "$tmp/unpacked/usr/share/doc/tovi/copyright"
check "tovi-batch unpacked from the package runs (\"$unpacked_version\")" \
  test "$unpacked_version" = "tovi-batch $version"

# ------------------------------------------- the package on this machine ----

if $install_deb; then
  if dpkg-query -W -f='${Status}' tovi 2>/dev/null | grep -q 'install ok installed'; then
    fail "tovi is not installed already (remove it first: apt-get purge tovi)"
  elif DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$tmp/apt.log" 2>&1; then
    pass "apt-get install ./${deb##*/}"
    installed_entry=/usr/share/applications/tovi.desktop
    check "desktop-file-validate accepts $installed_entry" desktop-file-validate "$installed_entry"
    check "the desktop database offers tovi.desktop for image/bmp" \
      grep -qE '^image/bmp=(.*;)?tovi\.desktop;' /usr/share/applications/mimeinfo.cache
    check "tovi-batch --version on the PATH is $version" test "$(tovi-batch --version)" = "tovi-batch $version"
    check "/usr/bin/tovi resolves to the program beside its help file" \
      test -f "$(dirname "$(readlink -f /usr/bin/tovi)")/$help_file_name"
    check "the 48x48 icon is in the hicolor theme" test -f /usr/share/icons/hicolor/48x48/apps/tovi.png
    man_finds() {
      local page
      for page; do man -w "$page" >/dev/null || return 1; done
    }
    check "man finds tovi(1) and tovi-batch(1)" man_finds tovi tovi-batch
    check "the installed desktop entry starts /usr/bin/tovi, which opens the BMP given for %f" \
      opens_the_bmp "$installed_entry" /usr/bin
    kill "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
    # Purged, not only removed: the package's ldconfig scripts would keep it
    # listed as removed with its configuration.
    if DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tovi >>"$tmp/apt.log" 2>&1 &&
      ! dpkg-query -W tovi >/dev/null 2>&1; then
      pass "apt-get purge tovi leaves no trace of it in dpkg"
    else
      fail "apt-get purge tovi:" && sed 's/^/      /' "$tmp/apt.log"
    fi
  else
    fail "apt-get install ./${deb##*/}:" && sed 's/^/      /' "$tmp/apt.log"
  fi
fi

if ((failures)); then
  echo "packaging: $failures check(s) failed (${SECONDS} s)"
  exit 1
fi
echo "packaging: all checks passed (${SECONDS} s)"
