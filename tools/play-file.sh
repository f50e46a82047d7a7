#!/usr/bin/env bash
# Plays a music file with the player, which reads only music/dump.txt in its working folder:
#   tools/play-file.sh PLAYER CONVERT FILE
# converts FILE with CONVERT (tonewell-convert) into a private temporary folder as
# music/dump.txt, runs PLAYER there, and removes the folder however the player ends (closed,
# or SIGTERM, SIGINT, SIGHUP to this script, which passes them on to the player). Exits with
# the player's status, or the converter's when FILE cannot be converted.
set -uo pipefail
[ $# -eq 3 ] || { echo "usage: tools/play-file.sh PLAYER CONVERT FILE" >&2; exit 2; }
player=$(realpath "$1")
convert=$(realpath "$2")
folder=$(mktemp -d "${TMPDIR:-/tmp}/tonewell-play.XXXXXX") || exit 1
child=
trap 'rm -rf "$folder"' EXIT
forward() { [ -n "$child" ] && kill "-$1" "$child" 2> /dev/null; }
trap 'forward TERM' TERM
trap 'forward INT' INT
trap 'forward HUP' HUP

mkdir "$folder/music"
"$convert" "$3" "$folder/music/dump.txt" || exit $?
cd "$folder" || exit 1
# Started in the background so that a signal to this script can be passed on at once; an
# explicit stdin, because a background job would get /dev/null instead of the terminal.
"$player" <&0 &
child=$!
# A trapped signal interrupts wait; wait again until the player has really ended.
while :; do
  wait "$child"
  status=$?
  kill -0 "$child" 2> /dev/null || break
done
exit "$status"
