#!/bin/bash
# static_programs.sh PROGRAM_DIR
#
# The released Linux programs need no C library: neither has a program
# interpreter or a needed library (readelf), and, run as root, each switches
# a sample mod in an empty root that holds nothing but the two programs and
# liblist.gam (chroot), byte for byte there and back.  32-bit programs that
# this kernel does not run go through qemu-i386-static, copied into the
# root; without it, or without root, that part is skipped (exit 77 once the
# file checks have passed).
set -u
bin=$(cd "$1" && pwd)
sample=$(cd "$(dirname "$0")/../examples/dod" && pwd)/liblist.gam
source "$(dirname "$0")/lib.sh"

for name in install uninstall; do
  readelf -lW "$bin/$name" | grep -q 'Requesting program interpreter' && fail "$name has a program interpreter"
  readelf -dW "$bin/$name" | grep -q '(NEEDED)' && fail "$name needs a shared library"
  [ "$failed" = 0 ] && echo "ok   $name: $(readelf -hW "$bin/$name" | awk -F: '/Machine/ { gsub(/^ +/, "", $2); print $2 }'), no interpreter, no needed library"
done
[ "$failed" = 0 ] || exit 1

[ "$(id -u)" = 0 ] || skip "empty-root run skipped: chroot needs root"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cp "$bin/install" "$bin/uninstall" "$sample" "$root/" && library "$root"
runner=()
if ! runs "$bin/install"; then
  command -v qemu-i386-static >/dev/null ||
    skip "empty-root run skipped: this kernel does not run these programs, and qemu-i386-static is not installed"
  echo "this kernel does not run these programs: running them through qemu-i386-static in the root"
  cp "$(command -v qemu-i386-static)" "$root/qemu" && runner=(/qemu)
fi
within 20 chroot "$root" "${runner[@]}" /install || fail "install exited $? in the empty root"
[ -e "$root/liblist_tv_backup.gam" ] && ! cmp -s "$root/liblist.gam" "$sample" || fail "install did not switch in the empty root"
cmp -s "$root/liblist_tv_backup.gam" "$sample" || fail "the backup is not the original"
within 20 chroot "$root" "${runner[@]}" /uninstall || fail "uninstall exited $? in the empty root"
cmp -s "$root/liblist.gam" "$sample" && [ ! -e "$root/liblist_tv_backup.gam" ] ||
  fail "uninstall did not bring the original back in the empty root"
[ "$failed" = 0 ] && echo "ok   install and uninstall in an empty root: the original back byte for byte"
exit "$failed"
