#!/bin/bash
# wine_server.sh start|stop WINESERVER [WINE32]
#
# Starts or stops the one persistent wineserver that every Wine run of the
# tests shares, for the prefix in WINEPREFIX.  A server left by an
# interrupted run is stopped first (-k, then -w waits for it to be gone);
# the new one never exits on its own (-p).  Where 32-bit Wine (WINE32) can
# run, a prefix without a 32-bit part (made before wine32 was installed:
# every Wine run fails in it, and `wineboot -u` does not repair it) is made
# anew.
set -u
source "$(dirname "$0")/lib.sh"
action=$1 wineserver=$2 wine32=${3:-}
within 20 "$wineserver" -k 2>/dev/null
within 60 "$wineserver" -w
[ "$action" = stop ] && exit 0
if [ -n "$wine32" ] && [ -d "$WINEPREFIX/drive_c" ] &&
   [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] &&
   within 60 "$wine32" --version >/dev/null 2>&1; then
  echo "the Wine prefix $WINEPREFIX has no 32-bit part: making it anew"
  rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX" && within 20 "$wineserver" -p </dev/null >/dev/null 2>&1
