#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Unpacks the Windows ZIP and checks it under Wine, in a private X server with openbox:
#   - tonewell-render.exe --version prints "tonewell-render VERSION", --help exits 0;
#   - tonewell-play.cmd (no file: the demo tune; with tonewell-convert.exe in the ZIP also a
#     generated YM5 file) opens the player's window, Alt+F4 closes it, the .cmd ends with
#     exit status 0 and no tonewell-play-* folder is left in Wine's temporary directory.
#
#   - with TONEWELL_FAKE_PROGRAM set to the cross build's tonewell-fake-program.exe (the
#     target of tests/packaging), tonewell-play.exe and .cmd beside that stand-in for the player
#     and the converter: the player's exit status is passed on, the converter's failure gives
#     status 1 with its message and no player, the folder is gone each time.
#
#   tests/packaging/check_zip_wine.sh ZIP [WORK_DIR]
#
# WORK_DIR (default: a folder beside the ZIP) keeps the Wine prefix between runs. Ends with
# "N passed, N failed".
set -u
ZIP=$(realpath "${1:?usage: check_zip_wine.sh ZIP [WORK_DIR]}")
WORK=$(realpath -m "${2:-$(dirname "$ZIP")/zip-wine}")
HERE=$(cd "$(dirname "$0")" && pwd)
VERSION=$(basename "$ZIP" | sed -n 's/^tonewell-\([0-9.]*\)-win64\.zip$/\1/p')
. "$HERE/../checks.sh"
finish() { summary; exit $?; }

mkdir -p "$WORK"
rm -rf "$WORK/unpacked"
unzip -q "$ZIP" -d "$WORK/unpacked" || { fail "unzip $ZIP"; finish; }
APP="$WORK/unpacked/tonewell-$VERSION-win64"
for f in tonewell.exe tonewell-render.exe tonewell-play.exe tonewell-play.cmd README.txt music/dump.txt; do
  check "the ZIP holds $f" [ -f "$APP/$f" ]
done
check "README.txt has CR LF line ends" grep -q $'\r$' "$APP/README.txt"

export WINEPREFIX="$WORK/wineprefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="winealsa.drv,winepulse.drv=d;mscoree,mshtml="
XVFB_PID=""
WM_PID=""
cleanup() {
  wineserver -k > /dev/null 2>&1
  [ -n "$WM_PID" ] && kill "$WM_PID" 2> /dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2> /dev/null
}
trap cleanup EXIT
wineserver -k > /dev/null 2>&1
exec 3> "$WORK/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
for _ in $(seq 1 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || { fail "Xvfb starts"; finish; }
export DISPLAY=":$(head -1 "$WORK/display")"
HOME="$WORK" openbox > "$WORK/openbox.log" 2>&1 &
WM_PID=$!
for _ in $(seq 1 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q "window id" && break; sleep 0.1; done
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== wineboot"
  timeout 300 wineboot -i > "$WORK/wineboot.log" 2>&1
fi
wineserver -p 60 > /dev/null 2>&1

out=$(cd "$APP" && timeout 60 wine tonewell-render.exe --version 2>/dev/null | tr -d '\r')
check "tonewell-render.exe --version prints \"$out\"" [ "$out" = "tonewell-render $VERSION" ]
(cd "$APP" && timeout 60 wine tonewell-render.exe --help > "$WORK/help.txt" 2>/dev/null)
check "tonewell-render.exe --help exits 0 with the usage" eval '[ $? -eq 0 ] && grep -q "^usage: tonewell-render" "$WORK/help.txt"'
(cd "$APP" && timeout 60 wine tonewell-play.exe --bogus > /dev/null 2>&1)
check "tonewell-play.exe --bogus exits 2" [ $? -eq 2 ]

WINTEMP=$(cd "$APP" && wine cmd /c echo %TEMP% 2> /dev/null | tr -d '\r')
TEMPDIR=$(winepath -u "$WINTEMP" 2> /dev/null)
echo "  Wine's temporary directory: $WINTEMP = $TEMPDIR"

# play_cmd NAME [FILE]: tonewell-play.cmd opens the window; Alt+F4; status 0; no folder left.
play_cmd() {
  local name=$1
  shift
  (cd "$APP" && exec wine cmd /c tonewell-play.cmd "$@") > "$WORK/play-$name.log" 2>&1 &
  local pid=$! window=""
  for _ in $(seq 1 300); do
    window=$(xdotool search --name '^Tonewell =\)$' 2> /dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.1
  done
  check "$name: tonewell-play.cmd opens the player's window" [ -n "$window" ]
  local folders
  folders=$(ls -d "$TEMPDIR"/tonewell-play-* 2> /dev/null | wc -l)
  check "$name: one temporary folder while it plays ($folders)" [ "$folders" -eq 1 ]
  # Alt+F4 again while the process lives: the first key can come before the window takes
  # input. What counts is that the player ends after the key, with status 0.
  local tries=0
  while [ -n "$window" ] && kill -0 "$pid" 2> /dev/null && [ $tries -lt 10 ]; do
    tries=$((tries + 1))
    xdotool windowactivate --sync "$window" > /dev/null 2>&1
    xdotool key --clearmodifiers alt+F4
    for _ in $(seq 1 20); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
  done
  echo "  $name: Alt+F4 sent $tries time(s)"
  if kill -0 "$pid" 2> /dev/null; then
    fail "$name: the player did not end after Alt+F4"
    wineserver -k > /dev/null 2>&1
    wait "$pid" 2> /dev/null
    rm -rf "$TEMPDIR"/tonewell-play-*
    wineserver -p 60 > /dev/null 2>&1
    return
  fi
  wait "$pid"
  local code=$?
  check "$name: tonewell-play.cmd ends with status 0 (got $code)" [ "$code" -eq 0 ]
  folders=$(ls -d "$TEMPDIR"/tonewell-play-* 2> /dev/null | wc -l)
  check "$name: no temporary folder left ($folders)" [ "$folders" -eq 0 ]
}

play_cmd "demo tune"

FAKE=${TONEWELL_FAKE_PROGRAM:-}
if [ -n "$FAKE" ]; then
  STAND="$WORK/stand-in"
  rm -rf "$STAND"
  mkdir -p "$STAND/music"
  cp "$APP/tonewell-play.exe" "$APP/tonewell-play.cmd" "$STAND/"
  cp "$FAKE" "$STAND/tonewell.exe"
  cp "$FAKE" "$STAND/tonewell-convert.exe"
  printf 'demo line\r\n' > "$STAND/music/dump.txt"
  LOG="$WORK/stand-in.log"
  export FAKE_LOG
  FAKE_LOG=$(winepath -w "$LOG" 2> /dev/null)
  # stand_in NAME EXPECTED_STATUS EXPECTED_DUMP ENV... -- COMMAND...
  stand_in() {
    local name=$1 want=$2 dump=$3
    shift 3
    local envs=()
    while [ "$1" != -- ]; do envs+=("$1"); shift; done
    shift
    rm -f "$LOG"
    (cd "$STAND" && env "${envs[@]}" timeout 60 wine "$@") > "$WORK/stand-in.out" 2> "$WORK/stand-in.err"
    local code=$?
    check "$name: exit status $want (got $code)" [ "$code" -eq "$want" ]
    if [ -n "$dump" ]; then
      local got
      got=$(sed -n 's/^dump //p' "$LOG" 2> /dev/null | tr -d '\r')
      check "$name: the player read \"$dump\" (got \"$got\")" [ "$got" = "$dump" ]
      check "$name: the player ran in a tonewell-play folder, with no arguments" \
        eval 'grep -q "^cwd .*\\\\tonewell-play-" "$LOG" && grep -q "^args 0" "$LOG"'
    else
      check "$name: the player did not run" [ ! -s "$LOG" ]
    fi
    local left
    left=$(ls -d "$TEMPDIR"/tonewell-play-* 2> /dev/null | wc -l)
    check "$name: no temporary folder left ($left)" [ "$left" -eq 0 ]
  }
  stand_in "stand-in, file, player exits 3" 3 "converted song.ym" FAKE_PLAYER_EXIT=3 -- tonewell-play.exe song.ym
  stand_in "stand-in, .cmd, player exits 5" 5 "converted song.ym" FAKE_PLAYER_EXIT=5 -- cmd /c tonewell-play.cmd song.ym
  stand_in "stand-in, no file: the demo tune" 0 "demo line" -- tonewell-play.exe
  stand_in "stand-in, converter fails" 1 "" FAKE_CONVERT=fail -- tonewell-play.exe bad.ym
  check "stand-in, converter fails: its message on standard error" \
    grep -q "tonewell-convert: bad.ym: not a music file" "$WORK/stand-in.err"
fi

if [ -f "$APP/tonewell-convert.exe" ]; then
  python3 "$HERE/make_ym.py" --packed "$APP/packed.ym"
  play_cmd "packed YM5" packed.ym
else
  echo "  (no tonewell-convert.exe in the ZIP: the YM file case is left out)"
fi
finish
