#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The cross build's test emulator: runs a Windows program under Wine in the session's X server
# and prefix, without a sound device unless TONEWELL_WINE_SOUND=1 (then ALSA's file device).
. "$(dirname "$0")/wine_env.sh"
if [ "${TONEWELL_WINE_SOUND:-0}" = 1 ]; then
  export HOME="$SOUND_HOME" WINEDLLOVERRIDES="$ALSA_ONLY"
fi
exec timeout 150 wine "$@"
