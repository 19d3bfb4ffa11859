#!/usr/bin/env bash
# Installs every build and test dependency on a Debian 12 machine (run as root).
# Idempotent: when everything is there already it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git file
  libgtest-dev googletest
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libchm-dev fp-utils
  xvfb xauth xdotool xclip imagemagick fonts-ipafont-gothic
  desktop-file-utils man-db dpkg-dev librsvg2-bin
  acl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup: all ${#packages[@]} packages present"
