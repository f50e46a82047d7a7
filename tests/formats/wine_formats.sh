#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows build's tonewell-convert.exe and tonewell-render.exe under Wine on the generated
# music files, tracker modules included, and on the shared folder's real modules: every dump
# text and every render must equal the build machine's byte for byte (cmp), and every
# malformed file must be refused with exit status 1 and no OUT.
#
#   tests/formats/wine_formats.sh WIN_BUILD NATIVE_BUILD [ay]
#
# With "ay", the AY files alone (their Z80 is z80ex, built from its Debian source package for
# Windows): exit 77 (skipped), saying why, when the Windows build was made without it.
# WIN_BUILD: a MinGW-w64 build (cmake/mingw-w64-x86_64.cmake) with tonewell-convert and
# tonewell-render built; NATIVE_BUILD: a Linux build with the same targets. Uses a private
# WINEPREFIX under WIN_BUILD; no display is needed. Ends with "N passed, N failed".
set -u
WIN=$(realpath "$1")
NATIVE=$(realpath "$2")
SRC=$(cd "$(dirname "$0")/../.." && pwd)
PART=${3:-formats}
WORK="$WIN/formats-wine-$PART"
rm -rf "$WORK" && mkdir -p "$WORK/native" "$WORK/wine"
if [ -n "${TONEWELL_WINE_STATE:-}" ]; then
  # Inside the cross build's test session: its prefix, display and server, as every Wine test.
  . "$SRC/tests/wine/wine_env.sh"
else
  export WINEPREFIX="${WINEPREFIX:-$WIN/wineprefix-formats}" WINEDEBUG=-all
  unset DISPLAY
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i > /dev/null 2>&1
fi

CHECKS_QUIET=1
. "$SRC/tests/checks.sh"

python3 "$SRC/tests/formats/make_tunes.py" "$WORK/tunes" || exit 1
cd "$WORK/tunes" || exit 1
same_convert() {  # FILE OPTIONS...
  local file=$1 tag
  shift
  tag="$file$(printf '%s' "$@" | tr -c 'A-Za-z0-9' _)"
  "$NATIVE/tools/tonewell-convert" "$@" "$file" "$WORK/native/$tag.txt" 2> /dev/null &&
    timeout 120 wine "$WIN/tools/tonewell-convert.exe" "$@" "$file" "..\\wine\\$tag.txt" 2> /dev/null < /dev/null &&
    cmp "$WORK/native/$tag.txt" "$WORK/wine/$tag.txt"
}
# The first 2 s of each render, and the whole of two tunes.
same_render() {  # FILE FRAMES-OPTION...
  local file=$1 tag
  shift
  tag="$file$(printf '%s' "$@" | tr -c 'A-Za-z0-9' _)"
  "$NATIVE/tools/tonewell-render" "$@" "$file" "$WORK/native/$tag.wav" 2> /dev/null &&
    timeout 300 wine "$WIN/tools/tonewell-render.exe" "$@" "$file" "..\\wine\\$tag.wav" 2> /dev/null < /dev/null &&
    cmp "$WORK/native/$tag.wav" "$WORK/wine/$tag.wav"
}
if [ "$PART" = formats ]; then
while read -r file; do
  check "convert $file" same_convert "$file"
  check "render $file" same_render "$file" --frames 88200
done < good.txt
for file in runs.psg inter.ym6 new.vtx; do
  check "convert $file --clock 1000000" same_convert "$file" --clock 1000000
  check "convert $file --no-rescale" same_convert "$file" --no-rescale
done
# The SQT and STP modules: the generated ones, and the real tracker modules of the shared
# folder (TONEWELL_SHARED, default ../shared beside the sources) where it is present.
real="${TONEWELL_SHARED:-$SRC/../shared}/testdata/trackers2"
[ -d "$real" ] && cp "$real"/*.s[tq][cpt] "$real"/*.asc . || echo "note: no real modules in $real"
for file in $(cat modules.txt) $(cd "$real" 2> /dev/null && ls *.stc *.asc *.sqt *.stp); do
  check "convert $file" same_convert "$file"
  check "convert $file --no-rescale" same_convert "$file" --no-rescale
done
fi
if [ "$PART" = ay ]; then
# AY files: the hand-made machines and damaged files of make_ay.py, and the real files beside
# the repository (TONEWELL_SHARED, default ../shared) where they are.
python3 "$SRC/tests/formats/make_ay.py" "$WORK/tunes" || exit 1
why=$(timeout 120 wine "$WIN/tools/tonewell-convert.exe" example1.ay - 2>&1 > /dev/null < /dev/null)
case "$why" in
  *"has no Z80"*) echo "SKIP: the Windows build has no Z80 (z80ex's Debian source package was missing): $why"; exit 77 ;;
esac
for file in example1.ay example2.ay example3.ay twice.ay cpc_first.ay blocks.ay im2_table.ay spin.ay di_halt.ay \
  overwrite_stub.ay; do
  check "convert $file" same_convert "$file"
done
check "convert multi.ay --song 3" same_convert multi.ay --song 3
check "convert multi.ay --song 1 --no-rescale" same_convert multi.ay --song 1 --no-rescale
check "render multi.ay --song 1" same_render multi.ay --song 1 --frames 88200
SHARED_AY="${TONEWELL_SHARED:-$SRC/../shared}/testdata/ay"
for dump in "$SHARED_AY"/*.song*.txt; do
  [ -f "$dump" ] || { echo "SKIP: no real AY files in $SHARED_AY"; break; }
  base=$(basename "$dump")
  song=${base##*.song}
  song=${song%%.*}
  cp "${dump%%.ay.*}.ay" "real-${base%%.ay.*}.ay"
  case "$base" in
    *.unscaled.txt) check "convert $base" same_convert "real-${base%%.ay.*}.ay" --song "$song" --no-rescale ;;
    *) check "convert $base" same_convert "real-${base%%.ay.*}.ay" --song "$song" ;;
  esac
done
summary
exit
fi
check "render rate60.ym6 whole" same_render rate60.ym6
check "render long.ym5 whole" same_render long.ym5
refused() {  # FILE
  rm -f "$WORK/wine/bad.txt"
  timeout 120 wine "$WIN/tools/tonewell-convert.exe" "$1" "..\\wine\\bad.txt" 2> /dev/null < /dev/null
  [ $? -eq 1 ] && [ ! -e "$WORK/wine/bad.txt" ]
}
# The Pro Tracker modules (make_pt_modules.py) and, where the shared test data is here, the real ones.
while read -r file; do
  check "convert $file" same_convert "$file"
  check "convert $file --no-rescale" same_convert "$file" --no-rescale
done < modules_good.txt
check "render two_modules_ts.pt3" same_render two_modules_ts.pt3
for file in "${TONEWELL_SHARED:-$SRC/../shared}"/testdata/trackers/*.pt[23]; do
  [ -f "$file" ] || continue
  cp "$file" . && check "convert $(basename "$file")" same_convert "$(basename "$file")"
done
while IFS=$'\t' read -r file _; do
  check "refuse $file" refused "$file"
done < modules_bad.txt
while IFS=$'\t' read -r file _; do
  # A FIFO and a symbolic link mean nothing to a Windows program.
  [ "$file" = pipe.ym ] || [ "$file" = dangling.ym ] && continue
  check "refuse $file" refused "$file"
done < bad.txt
for file in short.ay amad.ay first_song.ay songs_outside.ay songs_before.ay data_outside.ay points_outside.ay \
  blocks_outside.ay blocks_unended.ay no_code.ay; do
  check "refuse $file" refused "$file"
done
summary
