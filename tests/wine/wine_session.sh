#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The Wine session of the cross build's tests, as a CTest fixture:
#   wine_session.sh start STATE   Xvfb, openbox, the Wine prefix (made once) and one wineserver
#   wine_session.sh stop STATE    ends them
# STATE keeps the display number, the process ids, the prefix and the logs.
set -u
action=$1
export TONEWELL_WINE_STATE=$2
mkdir -p "$TONEWELL_WINE_STATE/logs"
. "$(dirname "$0")/wine_env.sh"
logs="$TONEWELL_WINE_STATE/logs"

stop() {
  wineserver -k > /dev/null 2>&1
  for name in wm xvfb; do
    [ -s "$TONEWELL_WINE_STATE/$name.pid" ] && kill "$(cat "$TONEWELL_WINE_STATE/$name.pid")" 2> /dev/null
    rm -f "$TONEWELL_WINE_STATE/$name.pid"
  done
  rm -f "$TONEWELL_WINE_STATE/display"
  return 0
}

if [ "$action" = stop ]; then
  stop
  exit 0
fi

stop  # a server left from an earlier run may hold an old display
# Every process started here writes to files only, so that CTest does not wait for its output.
exec 3> "$TONEWELL_WINE_STATE/display"
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp < /dev/null > "$logs/xvfb.log" 2>&1 &
echo $! > "$TONEWELL_WINE_STATE/xvfb.pid"
exec 3>&-
for _ in $(seq 1 100); do [ -s "$TONEWELL_WINE_STATE/display" ] && break; sleep 0.1; done
[ -s "$TONEWELL_WINE_STATE/display" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -1 "$TONEWELL_WINE_STATE/display")"
setsid openbox < /dev/null > "$logs/openbox.log" 2>&1 &
echo $! > "$TONEWELL_WINE_STATE/wm.pid"
for _ in $(seq 1 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q "window id" && break; sleep 0.1; done
# One server for all the tests. The prefix is made (once) with the display already there:
# Wine's desktop process keeps the display it found for the server's whole life. wineboot also
# starts Wine's own background processes here, with their output in a file: started by a test's
# first program instead, they would hold that test's output open and CTest would wait for them.
wineserver -p 60 < /dev/null > /dev/null 2>&1
[ -f "$WINEPREFIX/system.reg" ] && boot=() || boot=(-i)
timeout 300 wineboot "${boot[@]}" < /dev/null > "$logs/wineboot.log" 2>&1 || { echo "wineboot failed"; exit 1; }
mkdir -p "$SOUND_HOME"
cat > "$SOUND_HOME/.asoundrc" << ASOUND
pcm.!default {
  type file
  slave.pcm "null"
  file "$CAPTURE"
  format "wav"
}
ASOUND
echo "display $DISPLAY, prefix $WINEPREFIX"
