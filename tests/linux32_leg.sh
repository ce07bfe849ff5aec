#!/bin/bash
# linux32_leg.sh PROGRAM_DIR COMMAND...
#
# Runs COMMAND (the golden cases, the property test) on the 32-bit Linux
# programs in PROGRAM_DIR: natively where the kernel runs 32-bit programs,
# otherwise through qemu-i386-static (Debian's qemu-user-static).  Exits 77
# (skipped), saying why, where neither can run them.  TEST_INSTALL and
# TEST_UNINSTALL are set for COMMAND; the cases that fail system calls of
# the programs themselves are left out (TEST_EMULATED=1), since under an
# emulator those calls are the emulator's.
set -u
bin=$(cd "$1" && pwd)
shift
source "$(dirname "$0")/lib.sh"
runner=""
if runs "$bin/install"; then echo "32-bit programs run natively"
elif command -v qemu-i386-static >/dev/null && runs qemu-i386-static "$bin/install"; then
  runner="qemu-i386-static " && echo "this kernel does not run 32-bit programs: running them through qemu-i386-static"
else skip "32-bit Linux leg skipped: this kernel does not run 32-bit programs, and qemu-i386-static is not installed (apt-get install qemu-user-static)"
fi
export TEST_INSTALL="$runner$bin/install" TEST_UNINSTALL="$runner$bin/uninstall" TEST_EMULATED=1
within 900 "$@"
