#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The cross build's end-to-end checks under Wine, one CTest test per case, inside the session
# (Xvfb, openbox, prefix) that wine_session.sh starts as a fixture:
#   runs_alone      tonewell.exe and tonewell-render.exe import no C or C++ runtime DLL;
#   player_nosound  tonewell.exe with no sound device: its window found by title, client area
#                   140 x 100, centred, the labels and the trackbar at 85 (read from outside by
#                   tonewell-probe.exe), "Playing: 0 / M" stays, Alt+F4 ends it with exit code 0
#                   within a second, a screenshot kept in BUILD_DIR/artifacts;
#   player_sound    the same with ALSA's file plugin as the device, whose capture must equal
#                   tonewell-render's output;
#   render_same     tonewell-render.exe bit-identical to the build machine's tonewell-render on
#                   the bundled dump, the generated adversarial dumps and CR LF copies.
#
#   TONEWELL_WINE_STATE=DIR tests/wine/wine_e2e.sh CASE BUILD_DIR NATIVE_RENDER
#
# Prints one PASS or FAIL line per check; exits non-zero on any failure.
set -u

CASE=$1
BUILD=$(realpath -m "$2")
NATIVE_RENDER=$3
SRC=$(cd "$(dirname "$0")/../.." && pwd)
. "$SRC/tests/wine/wine_env.sh"
ARTIFACTS="$BUILD/artifacts"
LOGS="$BUILD/logs"
mkdir -p "$ARTIFACTS" "$LOGS"

. "$SRC/tests/checks.sh"

PLAYER="$BUILD/app/tonewell.exe"
RENDER="$BUILD/tools/tonewell-render.exe"
PROBE="$BUILD/tests/app/winlayer/win32/tonewell-probe.exe"
# Only the system's DLLs: the C and C++ runtimes are inside the programs.
runs_alone() {
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name/ {print tolower($3)}' | sort -u | tr '\n' ' ')
  echo "  $1 imports: $dlls"
  ! echo "$dlls" | grep -qE "libstdc|libgcc|libwinpthread"
}


RUN_DIR="$BUILD/player-run"
rm -rf "$RUN_DIR"
mkdir -p "$RUN_DIR/music"
cp "$SRC/music/dump.txt" "$RUN_DIR/music/dump.txt"

PLAYER_PID=""
PROBED=""
probe() { (cd "$RUN_DIR" && timeout 20 wine "$PROBE") 2> /dev/null | tr -d '\r'; }
value() { echo "$PROBED" | sed -n "s/^$1 //p" | head -1; }
label() { echo "$PROBED" | sed -n "s/^label$1 \{0,1\}//p" | head -1; }

# start_player NAME [ENV...]: starts tonewell.exe and waits for its window and first refresh.
start_player() {
  local name=$1
  shift
  (cd "$RUN_DIR" && exec env "$@" wine "$PLAYER") > "$LOGS/player-$name.log" 2>&1 &
  PLAYER_PID=$!
  WINDOW=""
  for _ in $(seq 1 300); do
    WINDOW=$(xdotool search --name '^Tonewell =\)$' 2> /dev/null | head -1)
    [ -n "$WINDOW" ] && break
    sleep 0.1
  done
  [ -n "$WINDOW" ] || return 1
  for _ in $(seq 1 60); do
    PROBED=$(probe)
    label 1 | grep -q '^Playing: ' && return 0
    sleep 0.25
  done
  return 1
}

# close_player NAME: Alt+F4 on the window; the process must end with code 0 within a second.
close_player() {
  local name=$1
  xdotool windowactivate --sync "$WINDOW" > /dev/null 2>&1
  local start end code
  start=$(date +%s%N)
  xdotool key --clearmodifiers alt+F4
  for _ in $(seq 1 500); do
    kill -0 "$PLAYER_PID" 2> /dev/null || break
    sleep 0.01
  done
  end=$(date +%s%N)
  if kill -0 "$PLAYER_PID" 2> /dev/null; then
    fail "$name: Alt+F4 did not end the player within 5 s"
    kill "$PLAYER_PID" 2> /dev/null
    return
  fi
  wait "$PLAYER_PID"
  code=$?
  local ms=$(((end - start) / 1000000))
  echo "  $name: Alt+F4 to process end: $ms ms, exit code $code"
  check "$name: exit code 0 after Alt+F4" [ "$code" -eq 0 ]
  check "$name: ended within a second of Alt+F4 ($ms ms)" [ "$ms" -lt 1000 ]
}

# The window as seen from inside (Win32 geometry) and from the X server.
window_checks() {
  local name=$1
  echo "$PROBED" | sed 's/^/  probe: /'
  local client outer screen
  client=$(value client)
  outer=($(value outer))
  screen=($(value screen))
  check "$name: class WindowClass_1, title \"Tonewell =)\"" \
    [ "$(value class)" = "WindowClass_1" -a "$(value title)" = "Tonewell =)" ]
  check "$name: client area 140 x 100 (Win32)" [ "$client" = "140 100" ]
  local width=$((outer[2] - outer[0])) height=$((outer[3] - outer[1]))
  check "$name: centred on the screen (Win32 outer rectangle)" \
    [ "${outer[0]}" -eq $(((screen[0] - width) / 2)) -a "${outer[1]}" -eq $(((screen[1] - height) / 2)) ]
  local geometry
  geometry=$(xwininfo -id "$WINDOW")
  local xw xh xx xy
  xw=$(echo "$geometry" | sed -n 's/^ *Width: //p')
  xh=$(echo "$geometry" | sed -n 's/^ *Height: //p')
  xx=$(echo "$geometry" | sed -n 's/^ *Absolute upper-left X: *//p')
  xy=$(echo "$geometry" | sed -n 's/^ *Absolute upper-left Y: *//p')
  echo "  X window $WINDOW: ${xw}x${xh} at $xx,$xy on a ${screen[0]}x${screen[1]} screen"
  check "$name: X client window 140 x 100" [ "$xw" = 140 -a "$xh" = 100 ]
  # The X window is the client area: it sits at the outer rectangle plus the frame's left and
  # top parts, which are the same as AdjustWindowRect's.
  check "$name: X client window horizontally centred (within the frame's border)" \
    [ $((xx + 70 - screen[0] / 2)) -ge -4 -a $((xx + 70 - screen[0] / 2)) -le 4 ]
  check "$name: a horizontal msctls_trackbar32 at 85 of 0..100" \
    [ "$(value slider_class)" = "msctls_trackbar32" -a "$(value slider_pos)" = 85 -a \
      "$(value slider_range)" = "0 100" -a "$(value slider_vertical)" = 0 ]
  check "$name: three bar labels A:, B:, C:" \
    [ "$(label 2 | cut -c1-3)" = "A: " -a "$(label 3 | cut -c1-3)" = "B: " -a "$(label 4 | cut -c1-3)" = "C: " ]
}

screenshot() {
  local file=$1
  local geometry x y
  geometry=$(xwininfo -id "$WINDOW")
  x=$(echo "$geometry" | sed -n 's/^ *Absolute upper-left X: *//p')
  y=$(echo "$geometry" | sed -n 's/^ *Absolute upper-left Y: *//p')
  import -window root "$ARTIFACTS/${file%.png}_screen.png" 2> /dev/null
  convert "$ARTIFACTS/${file%.png}_screen.png" -crop "220x180+$((x - 40))+$((y - 50))" +repage "$ARTIFACTS/$file" 2> /dev/null
  [ -s "$ARTIFACTS/$file" ] && echo "  screenshot: $ARTIFACTS/$file"
}

player_nosound() {
echo "== tonewell.exe without a sound device"
if start_player nosound WINEDLLOVERRIDES="$NO_SOUND"; then
  pass "no device: window found by title and refreshed"
  window_checks "no device"
  status=$(label 1)
  check "no device: status \"$status\" is Playing: 0 / M" expr "$status" : 'Playing: 0 / [1-9][0-9]*$' > /dev/null
  check "no device: the bars stay empty" [ "$(label 2)" = "A: " -a "$(label 3)" = "B: " -a "$(label 4)" = "C: " ]
  screenshot wine_player.png
  # With the open failed no tick ever runs: later refreshes still show frame 0.
  sleep 0.5
  PROBED=$(probe)
  check "no device: still \"$(label 1)\" later" [ "$(label 1)" = "$status" ]
  close_player "no device"
else
  fail "no device: window found by title and refreshed"
  [ -n "$PLAYER_PID" ] && kill "$PLAYER_PID" 2> /dev/null
fi

}

player_sound() {
echo "== tonewell.exe playing through winmm into ALSA's file device"
rm -f "$CAPTURE"
if start_player sound HOME="$SOUND_HOME" WINEDLLOVERRIDES="$ALSA_ONLY"; then
  pass "sound: window found by title and refreshed"
  # Play until the status shows a frame past 100 (two seconds of music), bounded.
  for _ in $(seq 1 120); do
    PROBED=$(probe)
    frame=$(label 1 | sed -n 's/^Playing: \([0-9]*\) .*/\1/p')
    [ "${frame:-0}" -gt 100 ] && break
    sleep 0.25
  done
  check "sound: the frame counter runs (\"$(label 1)\")" [ "${frame:-0}" -gt 100 ]
  # The bars follow the music: wait (bounded) for a refresh that shows a level.
  for _ in $(seq 1 80); do
    label 2 | grep -q -- - || label 3 | grep -q -- - || label 4 | grep -q -- - && break
    sleep 0.1
    PROBED=$(probe)
  done
  echo "  status: $(label 1) | $(label 2) | $(label 3) | $(label 4)"
  check "sound: the bars show levels" eval 'label 2 | grep -q -- - || label 3 | grep -q -- - || label 4 | grep -q -- -'
  screenshot wine_player_sound.png
  close_player "sound"
  if [ -x "$NATIVE_RENDER" ] && [ -s "$CAPTURE" ]; then
    "$NATIVE_RENDER" --frames 3000000 "$SRC/music/dump.txt" "$BUILD/sound-reference.wav" > /dev/null 2>&1
    python3 - "$CAPTURE" "$BUILD/sound-reference.wav" > "$LOGS/sound-compare.log" << 'EOF'
import sys
RING = 7072  # the device hears one silent lap of the ring, then the rendered music
cap, ref = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()[44:]
data = cap[44:]
print("format", *(int.from_bytes(cap[20 + a:20 + b], "little") for a, b in ((2, 4), (4, 8), (14, 16))))
print("captured", len(data) // 4)
print("leading_silence", (len(data) - len(data.lstrip(b"\0"))) // 4)
n = min(len(data) - 4 * RING, len(ref)) // 4
played, ref = data[4 * RING:4 * (RING + n)], ref[:4 * n]
same = 0  # frames equal from the start: in steps of 4096 frames, then one by one
while same < n and played[4 * same:4 * (same + 4096)] == ref[4 * same:4 * (same + 4096)]:
    same += 4096
while same < n and played[4 * same:4 * same + 4] == ref[4 * same:4 * same + 4]:
    same += 1
print("identical_after_lap", min(same, n))
print("compared", n)
EOF
    cat "$LOGS/sound-compare.log" | sed 's/^/  capture: /'
    fmtline=$(sed -n 's/^format //p' "$LOGS/sound-compare.log")
    silent=$(sed -n 's/^leading_silence //p' "$LOGS/sound-compare.log")
    same=$(sed -n 's/^identical_after_lap //p' "$LOGS/sound-compare.log")
    compared=$(sed -n 's/^compared //p' "$LOGS/sound-compare.log")
    check "sound: the device got 2 channels, 44100 Hz, 16 bit" [ "$fmtline" = "2 44100 16" ]
    check "sound: one silent lap of 7072 frames first (got ${silent:-?})" [ "${silent:-0}" -ge 7072 ]
    check "sound: the played music equals tonewell-render for at least 2 s (${same:-0} of ${compared:-0} frames)" \
      [ "${same:-0}" -ge 88200 ]
  else
    fail "sound: a capture and a native render to compare"
  fi
else
  fail "sound: window found by title and refreshed"
  [ -n "$PLAYER_PID" ] && kill "$PLAYER_PID" 2> /dev/null
fi

}

make_render_dumps() {
echo "== tonewell-render.exe against $NATIVE_RENDER"
DUMPS="$BUILD/render-dumps"
rm -rf "$DUMPS"
mkdir -p "$DUMPS/music"
LIST="$DUMPS/list.txt"
python3 - "$SRC/tests/tools" "$DUMPS" > "$LIST" << 'EOF'
import os, sys
sys.path.insert(0, sys.argv[1])
from make_dumps import make_dumps
for d in make_dumps(sys.argv[2]):
    print(os.path.basename(d.path), d.frames if d.frames else "")
EOF
cp "$SRC/music/dump.txt" "$DUMPS/music/dump.txt"
# CR LF copies of the bundled dump and of every generated one that has no CR yet.
python3 - "$DUMPS" "$LIST" << 'EOF'
import os, sys
folder, listing = sys.argv[1], sys.argv[2]
entries = [line.split() for line in open(listing) if line.strip()]
out = open(listing, "a")
def crlf(src, dst):
    data = open(src, "rb").read()
    if b"\r" in data:
        return False
    open(dst, "wb").write(data.replace(b"\n", b"\r\n"))
    return True
crlf(os.path.join(folder, "music", "dump.txt"), os.path.join(folder, "music_crlf.txt"))
out.write("music_crlf.txt 400000\n")
for e in entries:
    name = e[0]
    if crlf(os.path.join(folder, name), os.path.join(folder, "crlf_" + name)):
        out.write("crlf_%s %s\n" % (name, e[1] if len(e) > 1 else ""))
EOF
echo "music/dump.txt 400000" >> "$LIST"

}

# render_same DUMP FRAMES TAG [refused]: both renderers write the same bytes; with "refused",
# both must refuse the dump with the same exit code instead.
render_same() {
  local dump=$1 frames=$2 tag=$3 expect=${4:-written}
  local args=()
  [ -n "$frames" ] && args=(--frames "$frames")
  rm -f "$DUMPS/$tag.native.wav" "$DUMPS/$tag.wine.wav"
  "$NATIVE_RENDER" "${args[@]}" "$DUMPS/$dump" "$DUMPS/$tag.native.wav" > /dev/null 2>&1
  local native_rc=$?
  # Under Wine the paths are relative to the working directory, the dump's with a backslash.
  (cd "$DUMPS" && timeout 120 wine "$RENDER" "${args[@]}" "${dump//\//\\}" "$tag.wine.wav") > /dev/null 2>&1
  local wine_rc=$?
  [ "$native_rc" -eq "$wine_rc" ] || return 1
  if [ "$expect" = refused ]; then
    [ "$native_rc" -ne 0 ]
    return
  fi
  [ "$native_rc" -eq 0 ] && [ -s "$DUMPS/$tag.native.wav" ] && cmp -s "$DUMPS/$tag.native.wav" "$DUMPS/$tag.wine.wav"
}

render_all() {
  make_render_dumps
if [ -x "$NATIVE_RENDER" ]; then
  count=0
  while read -r dump frames; do
    [ -n "$dump" ] || continue
    count=$((count + 1))
    tag="r$count"
    check "render $dump${frames:+ ($frames frames)}: tonewell-render.exe bit-identical" render_same "$dump" "$frames" "$tag"
    rm -f "$DUMPS/$tag.native.wav" "$DUMPS/$tag.wine.wav"
  done < "$LIST"
  # A missing dump is refused by both, with the same exit code.
  check "render of a missing dump fails on both alike" render_same "absent.txt" "" missing refused
else
  fail "native tonewell-render available"
fi

}

case $CASE in
  runs_alone)
    check "tonewell.exe needs no runtime DLL" runs_alone "$PLAYER"
    check "tonewell-render.exe needs no runtime DLL" runs_alone "$RENDER" ;;
  player_nosound) player_nosound ;;
  player_sound) player_sound ;;
  render_same) render_all ;;
  *) echo "unknown case $CASE"; exit 2 ;;
esac
summary "$CASE" && [ "$PASSED" -gt 0 ]
