#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the two packages of Tonewell and copies them into out/:
#   out/tonewell_VERSION_amd64.deb    Debian package (CPack; dependencies from dpkg-shlibdeps)
#   out/tonewell-VERSION-win64.zip    Windows ZIP of the MinGW-w64 cross build
# Each is built in its own folder (build-pkg/, build-pkg-win/), Release, without the tests, and
# without the build-tree paths that tonewell-play otherwise carries for running in place.
#   tools/package.sh [deb|zip]...     (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
tools/install-deps.sh package
jobs=${TONEWELL_JOBS:-2}
wanted=("$@")
[ ${#wanted[@]} -eq 0 ] && wanted=(deb zip)
mkdir -p out

for kind in "${wanted[@]}"; do
  case "$kind" in
    deb)
      # Debian's hardening: fortified libc calls, read-only relocations bound at start-up.
      cmake -S "$root" -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DTONEWELL_TESTS=OFF -DTONEWELL_BENCH=OFF -DTONEWELL_PLAY_IN_BUILD_TREE=OFF \
        -DCMAKE_C_FLAGS="-D_FORTIFY_SOURCE=2" -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2" \
        -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now"
      cmake --build build-pkg -j "$jobs"
      (cd build-pkg && rm -rf packages && cpack -G DEB)
      cp build-pkg/packages/*.deb out/
      ;;
    zip)
      cmake -S "$root" -B build-pkg-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DTONEWELL_TESTS=OFF -DTONEWELL_BENCH=OFF \
        -DTONEWELL_PLAY_IN_BUILD_TREE=OFF
      cmake --build build-pkg-win -j "$jobs"
      (cd build-pkg-win && rm -rf packages && cpack -G ZIP)
      cp build-pkg-win/packages/*.zip out/
      ;;
    *)
      echo "usage: tools/package.sh [deb|zip]..." >&2
      exit 2
      ;;
  esac
done
ls -l out/
