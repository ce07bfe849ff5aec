#!/bin/bash
# exfat_leg.sh WORK_DIR COMMAND...
#
# Runs COMMAND (the golden cases, the property test) with its scratch
# folders on an exFAT file system, which has no hard links, no symbolic
# links and no no-replace rename: a 64 MiB image in WORK_DIR, mounted with
# exfat-fuse through a loop device.  Mod folders on external drives are
# often exFAT.  Exits 77 (skipped), saying why, where that cannot be
# mounted: it needs root, exfatprogs, exfat-fuse and a free loop device.
set -u
work=$1
shift
source "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || skip "exFAT leg skipped: needs root to mount a file system"
for tool in mkfs.exfat mount.exfat-fuse losetup; do
  command -v "$tool" >/dev/null || skip "exFAT leg skipped: $tool not found (apt-get install exfatprogs exfat-fuse)"
done
[ -c /dev/fuse ] || skip "exFAT leg skipped: no /dev/fuse"

image=$work/exfat.img mount=$work/exfat
rm -rf "$work" && mkdir -p "$mount" || exit 1
truncate -s 64M "$image" && within 60 mkfs.exfat "$image" >/dev/null 2>&1 || skip "exFAT leg skipped: mkfs.exfat failed"
device=$(within 20 losetup -f --show "$image" 2>/dev/null) || skip "exFAT leg skipped: no loop device"
trap '{ within 20 umount "$mount" || within 20 fusermount -u "$mount"; } 2>/dev/null; within 20 losetup -d "$device"; rm -rf "$work"' EXIT
within 20 mount.exfat-fuse "$device" "$mount" >/dev/null 2>&1 || skip "exFAT leg skipped: mount.exfat-fuse failed"
touch "$mount/probe" && ! ln "$mount/probe" "$mount/link" 2>/dev/null ||
  skip "exFAT leg skipped: the mount takes hard links: not exFAT"
rm -f "$mount/probe"
echo "scratch folders on exFAT at $mount"
TMPDIR=$mount within 900 "$@"
