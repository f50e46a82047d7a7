#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages the project needs that are missing: "play" for building and
# running the player, "package" for the manual pages, the icon and the Debian and Windows
# packages (tools/package.sh), "test" for everything ./test runs as well. Needs root for apt-get.
# "test" and "package" also fetch lhasa's and z80ex's Debian source packages into
# /var/cache/tonewell for the Windows cross build (no MinGW package exists for either) and the
# fuzzers, adding Debian's deb-src entry when missing.
set -euo pipefail

play_packages=(cmake ninja-build g++ pkg-config libsdl2-dev libfltk1.3-dev libncurses-dev liblhasa-dev libz80ex-dev
               libsndfile1-dev libsamplerate0-dev)
test_packages=(python3 libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev
               xvfb xauth openbox xdotool x11-utils wmctrl fonts-dejavu-extra imagemagick tmux sox
               g++-mingw-w64-x86-64-posix wine64 wine jlha-utils lhasa dpkg-dev xz-utils
               xfwm4 icewm dbus-daemon unzip
               pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber libasound2-plugins stress-ng
               flac opus-tools mpg123 ffmpeg)
# The sound-server tests start PulseAudio and PipeWire themselves; pipewire-alsa is left out on
# purpose (it conflicts with pulseaudio), ALSA reaches them through libasound2-plugins' pulse plugin.
# The export tests decode what tonewell-render writes with flac, opusdec, mpg123 and ffprobe.
# Manual pages (scdoc), the 48 px icon (rsvg-convert), the .deb (dpkg-shlibdeps, fakeroot,
# lintian) and the ZIP; the packaging tests also check the desktop entry and the MIME types
# (desktop-file-validate, update-mime-database, xdg-mime with File::MimeInfo's mimetype),
# read the manual pages with man and pack YM files with jlha.
package_packages=(scdoc librsvg2-bin dpkg-dev fakeroot file lintian zip g++-mingw-w64-x86-64-posix)
packaging_test_packages=(desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl libglib2.0-bin man-db jlha-utils)

wanted=("${play_packages[@]}")
case "${1:-play}" in
  package) wanted+=("${package_packages[@]}") ;;
  test) wanted+=("${test_packages[@]}" "${package_packages[@]}" "${packaging_test_packages[@]}") ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# lhasa's and z80ex's sources for the Windows build (formats/CMakeLists.txt compiles lhasa's
# decoders and z80ex's core).
source_cache=/var/cache/tonewell
add_deb_src() {
  if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$codename" "$codename" | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/debian-src.sources > /dev/null
    "${sudo_cmd[@]}" apt-get update -q
  fi
  "${sudo_cmd[@]}" mkdir -p "$source_cache"
}
if { [ "${1:-play}" = test ] || [ "${1:-play}" = package ]; } && [ ! -f "$source_cache/lhasa/lib/public/lha_decoder.h" ]; then
  add_deb_src
  (cd "$source_cache" && "${sudo_cmd[@]}" apt-get source -q lhasa > /dev/null 2>&1)
  # A stable name for whichever version Debian has.
  unpacked=$(ls -d "$source_cache"/lhasa-*/lib/public 2>/dev/null | sort -V | tail -n 1 || true)
  [ -n "$unpacked" ] && "${sudo_cmd[@]}" ln -sfn "$(dirname "$(dirname "$unpacked")")" "$source_cache/lhasa"
  [ -f "$source_cache/lhasa/lib/public/lha_decoder.h" ] ||
    { echo "install-deps: lhasa sources not found in $source_cache" >&2; exit 1; }
fi
if { [ "${1:-play}" = test ] || [ "${1:-play}" = package ]; } && [ ! -f "$source_cache/z80ex/z80ex.c" ]; then
  add_deb_src
  (cd "$source_cache" && "${sudo_cmd[@]}" apt-get source -q z80ex > /dev/null 2>&1) || true
  unpacked=$(ls -d "$source_cache"/z80ex-*/include 2>/dev/null | sort -V | tail -n 1 || true)
  [ -n "$unpacked" ] && "${sudo_cmd[@]}" ln -sfn "$(dirname "$unpacked")" "$source_cache/z80ex"
  # Not fatal: without them the Windows build refuses AY files (formats/CMakeLists.txt says so).
  [ -f "$source_cache/z80ex/z80ex.c" ] ||
    echo "install-deps: z80ex sources could not be fetched into $source_cache: the Windows build will refuse AY files" >&2
fi
