#!/usr/bin/env bash
# Cross-builds Tonewell for Windows with MinGW-w64 and checks it under Wine, in an X server
# (Xvfb) with a window manager (openbox):
#   - the chip, dump and stream suites and the Windows suite (window layer, platform, winmm);
#   - tonewell.exe: its window found by title, client area 140 x 100, centred, the labels and
#     the trackbar at 85 (read from outside by tonewell-probe.exe), a screenshot kept in
#     BUILD_DIR/artifacts, Alt+F4 ending it with exit code 0 within a second; once with no
#     sound device (the stream's open fails: "Playing: 0 / M" stays) and once with ALSA's file
#     plugin as the device, whose capture must equal tonewell-render's output;
#   - tonewell-render.exe: output bit-identical to the build machine's tonewell-render on the
#     bundled dump, the generated adversarial dumps and CR LF copies.
#
#   tests/windows/run_wine_tests.sh BUILD_DIR
#
# Needs g++-mingw-w64-x86-64-posix, wine (wine64), xvfb, openbox, xdotool, x11-utils,
# imagemagick, cmake, ninja and Debian's googletest sources. The native tonewell-render is taken
# from $NATIVE_RENDER when set, else built in BUILD_DIR/native. Ends with "N passed, N failed"
# and exits non-zero on any failure.
set -u

BUILD=$(realpath -m "${1:-build-win}")
SRC=$(cd "$(dirname "$0")/../.." && pwd)
ARTIFACTS="$BUILD/artifacts"
LOGS="$BUILD/logs"
mkdir -p "$BUILD" "$ARTIFACTS" "$LOGS"

PASSED=0
FAILED=0
pass() { PASSED=$((PASSED + 1)); echo "PASS: $*"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL: $*"; }
# check NAME COMMAND...: one check, passed when the command succeeds.
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}
finish() {
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
  exit $?
}

# --- Build ------------------------------------------------------------------------------------
echo "== cross build in $BUILD"
if ! cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64-x86_64.cmake" > "$LOGS/configure.log" 2>&1; then
  tail -20 "$LOGS/configure.log"
  fail "configure the cross build"
  finish
fi
TARGETS="tonewell tonewell-render tonewell-convert tonewell-probe psg_tests dump_tests audio_tests windows_tests"
if ! timeout 1500 ninja -C "$BUILD" -j2 $TARGETS > "$LOGS/build.log" 2>&1; then
  grep -E "error|FAILED" "$LOGS/build.log" | head -20
  fail "cross build"
  finish
fi
pass "cross build"

PLAYER="$BUILD/app/tonewell.exe"
RENDER="$BUILD/tools/tonewell-render.exe"
PROBE="$BUILD/tests/windows/tonewell-probe.exe"
# Only the system's DLLs: the C and C++ runtimes are inside the programs.
runs_alone() {
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name/ {print tolower($3)}' | sort -u | tr '\n' ' ')
  echo "  $1 imports: $dlls"
  ! echo "$dlls" | grep -qE "libstdc|libgcc|libwinpthread"
}
check "tonewell.exe needs no runtime DLL" runs_alone "$PLAYER"
check "tonewell-render.exe needs no runtime DLL" runs_alone "$RENDER"

NATIVE_RENDER=${NATIVE_RENDER:-}
if [ -z "$NATIVE_RENDER" ]; then
  NATIVE_RENDER="$BUILD/native/tools/tonewell-render"
  if ! { cmake -S "$SRC" -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTONEWELL_TESTS=OFF \
           -DTONEWELL_BENCH=OFF > "$LOGS/native-configure.log" 2>&1 &&
         ninja -C "$BUILD/native" -j2 tonewell-render tonewell-convert > "$LOGS/native-build.log" 2>&1; }; then
    fail "native tonewell-render build"
  fi
fi

# --- Wine and the X server ---------------------------------------------------------------------
export WINEPREFIX="$BUILD/wineprefix"
export WINEDEBUG=-all
export WINEARCH=win64
BASE_OVERRIDES="mscoree,mshtml="
NO_SOUND="winealsa.drv,winepulse.drv=d;$BASE_OVERRIDES"
ALSA_ONLY="winepulse.drv=d;$BASE_OVERRIDES"
export WINEDLLOVERRIDES="$NO_SOUND"

XVFB_PID=""
WM_PID=""
cleanup() {
  wineserver -k > /dev/null 2>&1
  [ -n "$WM_PID" ] && kill "$WM_PID" 2> /dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2> /dev/null
}
trap cleanup EXIT

wineserver -k > /dev/null 2>&1  # a server left from an earlier run may hold an old display
exec 3> "$BUILD/xvfb.display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$LOGS/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
for _ in $(seq 1 100); do [ -s "$BUILD/xvfb.display" ] && break; sleep 0.1; done
if [ ! -s "$BUILD/xvfb.display" ]; then
  fail "Xvfb starts"
  finish
fi
export DISPLAY=":$(head -1 "$BUILD/xvfb.display")"
openbox > "$LOGS/openbox.log" 2>&1 &
WM_PID=$!
for _ in $(seq 1 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q "window id" && break; sleep 0.1; done
# The prefix is made (once) with the display already there: Wine's desktop process, started
# with the first program, keeps the display it found for the server's whole life.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== wineboot"
  timeout 300 wineboot -i > "$LOGS/wineboot.log" 2>&1
fi
wineserver -p 60 > /dev/null 2>&1  # one server for all the runs below
echo "== display $DISPLAY, prefix $WINEPREFIX"

# --- Unit suites ----------------------------------------------------------------------------
# run_suite NAME EXE [ENV...] [-- GTEST ARGS]: runs a GoogleTest program under Wine and adds its
# counts (a crash or a missing summary counts as one failure).
run_suite() {
  local name=$1 exe=$2
  shift 2
  local envs=() args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do envs+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  args=("$@")
  local log="$LOGS/$name.log"
  (cd "$(dirname "$exe")" && env "${envs[@]}" timeout 150 wine "$exe" "${args[@]}") > "$log" 2>&1
  local rc=$?
  local ok bad skipped
  ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/^ *\([0-9]*\) FAILED TEST.*/\1/p' "$log" | tail -1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  ok=${ok:-0}
  bad=${bad:-0}
  PASSED=$((PASSED + ok))
  FAILED=$((FAILED + bad))
  echo "suite $name: $ok passed, $bad failed, ${skipped:-0} skipped (exit $rc)"
  grep -E "^\[  FAILED  \]" "$log" | sort -u | head -20
  if [ $rc -ne 0 ] && [ "$bad" -eq 0 ]; then fail "suite $name ended with exit code $rc"; fi
}

echo "== unit suites under Wine"
run_suite psg "$BUILD/tests/psg/psg_tests.exe"
run_suite dump "$BUILD/tests/dump/dump_tests.exe"
run_suite audio "$BUILD/tests/audio/audio_tests.exe"
run_suite windows "$BUILD/tests/windows/windows_tests.exe"

# ALSA's file plugin over its null device: a sound device without hardware whose input is kept
# as a WAVE file.
SOUND_HOME="$BUILD/wine-sound"
CAPTURE="$SOUND_HOME/capture.wav"
mkdir -p "$SOUND_HOME"
cat > "$SOUND_HOME/.asoundrc" << EOF
pcm.!default {
  type file
  slave.pcm "null"
  file "$CAPTURE"
  format "wav"
}
EOF
run_suite windows-sound "$BUILD/tests/windows/windows_tests.exe" HOME="$SOUND_HOME" WINEDLLOVERRIDES="$ALSA_ONLY" \
  -- --gtest_filter='Winmm*'

# --- The player ---------------------------------------------------------------------------
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
# The device heard one silent lap of the ring (7072 frames) and then the rendered music.
RING = 7072
cap = open(sys.argv[1], "rb").read()
ref = open(sys.argv[2], "rb").read()[44:]
fmt = cap[20:36]
channels, rate, bits = int.from_bytes(fmt[2:4], "little"), int.from_bytes(fmt[4:8], "little"), int.from_bytes(fmt[14:16], "little")
data = cap[44:]
frames = len(data) // 4
silent = 0
while silent < frames and data[4 * silent:4 * silent + 4] == b"\0\0\0\0":
    silent += 1
played = data[4 * RING:]
n = min(len(played), len(ref)) // 4
same = 0
step = 4096
while same < n:
    end = min(n, same + step)
    if played[4 * same:4 * end] == ref[4 * same:4 * end]:
        same = end
    else:
        while played[4 * same:4 * same + 4] == ref[4 * same:4 * same + 4]:
            same += 1
        break
print("format", channels, rate, bits)
print("captured", frames)
print("leading_silence", silent)
print("identical_after_lap", same)
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

# --- tonewell-render.exe against the native renderer ----------------------------------------
echo "== tonewell-render.exe against $NATIVE_RENDER"
DUMPS="$BUILD/render-dumps"
rm -rf "$DUMPS"
mkdir -p "$DUMPS/music"
LIST="$DUMPS/list.txt"
python3 - "$SRC/tests/e2e" "$DUMPS" > "$LIST" << 'EOF'
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

# The music formats: tonewell-convert.exe and tonewell-render.exe on the generated PSG, YM and
# VTX files, byte for byte against the build machine's programs.
NATIVE_BUILD=$(dirname "$(dirname "$NATIVE_RENDER")")
if [ -x "$NATIVE_BUILD/tools/tonewell-convert" ]; then
  "$SRC/tests/formats/wine_formats.sh" "$BUILD" "$NATIVE_BUILD" > "$LOGS/formats.log" 2>&1
  grep FAIL "$LOGS/formats.log"
  line=$(tail -n 1 "$LOGS/formats.log")
  if [[ "$line" =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    PASSED=$((PASSED + BASH_REMATCH[1]))
    FAILED=$((FAILED + BASH_REMATCH[2]))
    echo "music formats under Wine: $line"
  else
    fail "music formats under Wine (see $LOGS/formats.log)"
  fi
else
  fail "native tonewell-convert available"
fi

finish
