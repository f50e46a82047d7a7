#!/usr/bin/env bash
# Installs the Debian packages the project needs that are missing: "play" for building and
# running the player, "package" for the manual pages, the icon and the Debian and Windows
# packages (tools/package.sh), "test" for everything ./test runs as well. Needs root for apt-get.
set -euo pipefail

play_packages=(cmake ninja-build g++ pkg-config libsdl2-dev libfltk1.3-dev libncurses-dev)
test_packages=(python3 libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev
               xvfb xauth openbox xdotool x11-utils wmctrl fonts-dejavu-extra imagemagick tmux sox
               g++-mingw-w64-x86-64-posix wine64 wine)
# Manual pages (scdoc), the 48 px icon (rsvg-convert), the .deb (dpkg-shlibdeps, fakeroot,
# lintian) and the ZIP; the packaging tests also check the desktop entry and the MIME types
# (desktop-file-validate, update-mime-database, xdg-mime with File::MimeInfo's mimetype),
# read the manual pages with man and pack YM files with jlha.
package_packages=(scdoc librsvg2-bin dpkg-dev fakeroot file lintian zip g++-mingw-w64-x86-64-posix)
packaging_test_packages=(desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl man-db jlha-utils)

wanted=("${play_packages[@]}")
case "${1:-play}" in
  package) wanted+=("${package_packages[@]}") ;;
  test) wanted+=("${test_packages[@]}" "${package_packages[@]}" "${packaging_test_packages[@]}") ;;
esac

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
