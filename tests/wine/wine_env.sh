# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the Wine scripts: the environment of the session that wine_session.sh started in
# the state folder $TONEWELL_WINE_STATE (its X display, its prefix, the sound device choices).
: "${TONEWELL_WINE_STATE:?set by the tests of the cross build}"
export WINEPREFIX="$TONEWELL_WINE_STATE/prefix"
export WINEDEBUG=-all
export WINEARCH=win64
BASE_OVERRIDES="mscoree,mshtml="
NO_SOUND="winealsa.drv,winepulse.drv=d;$BASE_OVERRIDES"
ALSA_ONLY="winepulse.drv=d;$BASE_OVERRIDES"
# ALSA's file plugin over its null device: a sound device without hardware whose input is kept
# as a WAVE file. HOME=$SOUND_HOME selects it.
SOUND_HOME="$TONEWELL_WINE_STATE/sound"
CAPTURE="$SOUND_HOME/capture.wav"
export WINEDLLOVERRIDES="$NO_SOUND"
[ -s "$TONEWELL_WINE_STATE/display" ] && export DISPLAY=":$(head -1 "$TONEWELL_WINE_STATE/display")"
