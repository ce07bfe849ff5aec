#!/bin/bash
# windows32_leg.sh WINE32 COMMAND...
#
# Runs COMMAND (the golden cases, the property test) on the released 32-bit
# Windows programs with Wine's 32-bit loader WINE32, in the prefix that the
# 64-bit leg uses too.  Exits 77 (skipped), saying why, where 32-bit Wine
# cannot run: without wine32, or on a kernel that runs no 32-bit programs.
set -u
wine32=$1
shift
source "$(dirname "$0")/lib.sh"
[ -x "$wine32" ] ||
  skip "32-bit Windows leg skipped: wine32 is not installed (dpkg --add-architecture i386; apt-get install wine32:i386 wine32-preloader:i386)"
within 60 "$wine32" --version >/dev/null 2>&1 ||
  skip "32-bit Windows leg skipped: this kernel does not run 32-bit programs, so 32-bit Wine cannot start ($wine32)"
[ -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || { fail "the Wine prefix $WINEPREFIX has no 32-bit part"; exit 1; }
within 900 "$@"
