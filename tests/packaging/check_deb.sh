#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian package of BUILD_DIR with CPack and checks it on this machine:
#   - lintian reports no error (its warnings and notes are listed);
#   - dpkg -i installs it (apt-get install -f brings what it depends on);
#   - the installed programs answer --version, man tonewell-convert shows the page, xdg-mime
#     names audio/x-ym for a generated YM5 file from the installed MIME types.
# Installing a package changes the machine: without TONEWELL_PACKAGE_TESTS=1 this exits 77
# ("skipped"). With TONEWELL_PACKAGE_KEEP=1 the package stays installed, else it is removed.
#
#   tests/packaging/check_deb.sh BUILD_DIR
set -u
BUILD=$(realpath "${1:?usage: check_deb.sh BUILD_DIR}")
HERE=$(cd "$(dirname "$0")" && pwd)
if [ "${TONEWELL_PACKAGE_TESTS:-0}" != 1 ]; then
  echo "skipped: set TONEWELL_PACKAGE_TESTS=1 to build, install and check the .deb on this machine"
  exit 77
fi
[ "$(id -u)" -eq 0 ] || { echo "FAIL: dpkg -i needs root"; exit 1; }

. "$(dirname "$0")/../checks.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

(cd "$BUILD" && cpack -G DEB) > "$WORK/cpack.log" 2>&1
DEB=$(ls -t "$BUILD"/packages/tonewell_*.deb 2> /dev/null | head -1)
check "cpack builds the .deb" [ -n "$DEB" ]
[ -n "$DEB" ] || { cat "$WORK/cpack.log"; echo "$PASSED passed, $FAILED failed"; exit 1; }
echo "package: $DEB"
dpkg-deb -f "$DEB" Package Version Section Depends | sed 's/^/  /'
check "the dependencies come from dpkg-shlibdeps (libc6 among them)" \
  eval 'dpkg-deb -f "$DEB" Depends | grep -q "libc6 (>="'

lintian --info --display-info --pedantic "$DEB" > "$WORK/lintian.log" 2>&1
grep -E '^[EWIP]: ' "$WORK/lintian.log" | sed 's/^/  lintian /'
check "lintian reports no error" eval '! grep -q "^E: " "$WORK/lintian.log"'

export DEBIAN_FRONTEND=noninteractive
if ! dpkg -i "$DEB" > "$WORK/dpkg.log" 2>&1; then
  apt-get install -f -y -q >> "$WORK/dpkg.log" 2>&1
fi
check "dpkg -i installs it" eval 'dpkg-query -W -f="\${Status}" tonewell | grep -q "install ok installed"'
for program in tonewell-render tonewell-play; do
  check "/usr/bin/$program --version" eval "/usr/bin/$program --version | grep -qx '$program [0-9.]*'"
done
check "man tonewell-convert shows the page" \
  eval 'MANWIDTH=80 man tonewell-convert 2> "$WORK/man.err" | grep -q "tonewell-convert - convert PSG, YM, VTX"'
check "man -w tonewell-convert is the installed page" \
  eval '[ "$(man -w tonewell-convert)" = /usr/share/man/man1/tonewell-convert.1.gz ]'
python3 "$HERE/make_ym.py" "$WORK/tune.ym"
python3 "$HERE/make_ym.py" --packed "$WORK/packed.ym"
for f in tune.ym packed.ym; do
  got=$(env -u XDG_CURRENT_DESKTOP XDG_DATA_DIRS=/usr/share xdg-mime query filetype "$WORK/$f")
  check "xdg-mime query filetype $f: $got" [ "$got" = audio/x-ym ]
done
got=$(env -u XDG_CURRENT_DESKTOP xdg-mime query default audio/x-ym)
echo "  xdg-mime query default audio/x-ym: ${got:-none}"
check "desktop-file-validate on the installed entry" desktop-file-validate /usr/share/applications/tonewell.desktop

if [ "${TONEWELL_PACKAGE_KEEP:-0}" != 1 ]; then
  dpkg -r tonewell > "$WORK/remove.log" 2>&1
  check "dpkg -r removes it" eval '! dpkg-query -W -f="\${Status}" tonewell 2> /dev/null | grep -q "install ok installed"'
fi
summary
