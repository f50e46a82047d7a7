#!/usr/bin/env bash
# Installs the Debian packages the project needs that are missing: "play" for building and
# running the player, "test" for everything ./test runs as well. Needs root for apt-get.
set -euo pipefail

play_packages=(cmake ninja-build g++ pkg-config libsdl2-dev libfltk1.3-dev libncurses-dev)
test_packages=(python3 libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev
               xvfb xauth openbox xdotool x11-utils wmctrl fonts-dejavu-extra imagemagick tmux sox
               g++-mingw-w64-x86-64-posix wine64 wine)

wanted=("${play_packages[@]}")
[ "${1:-play}" = test ] && wanted+=("${test_packages[@]}")

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
