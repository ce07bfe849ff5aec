#!/bin/bash
# server_test.sh PROGRAM_DIR EXAMPLES_DIR
#
# A mod folder on a Linux server, switched by root under umask 077: what
# the root-only golden cases cannot show.  liblist.gam keeps its mode,
# owner and group through install, restore and rebuild; a restore is newer
# than any converted copy an engine keeps; every rename is followed by a
# flush of the folder; a device behind a link is never opened; nothing put
# in place between the look and the open is read; a held lock is given up
# without a signal; ACLs go with the file; a read-only file system is
# foreseen.  Each step has a folder of its own.  Needs root to give files
# to another account; skipped otherwise.
set -u
source "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || skip "skipped: needs root to own files by another account"
bin=$(cd "$1" && pwd) examples=$(cd "$2" && pwd) work=$(mktemp -d)
trap 'cd /; umount -q "$work"/* 2>/dev/null; rm -rf "$work"' EXIT
umask 077
account=(setpriv --reuid=4242 --regid=4343 --clear-groups)  # the account 4242, as the cases' $ACCOUNT

# mod NAME [OWNER MODE]: enters a new mod folder NAME (mode 0755) with the
# Firearms sample's liblist.gam of OWNER (4242:4343) and MODE (0640).
mod() {
  mkdir -m 0755 "$work/$1" && cd "$work/$1" && cp "$examples/firearms/liblist.gam" . &&
    chown "${2:-4242:4343}" liblist.gam && chmod "${3:-0640}" liblist.gam
}
# kept_as FILE: its mode, owner and group, and type.
kept_as() { stat -c '%a %u:%g %F' "$1"; }
kept='640 4242:4343 regular file'
# flushed PROGRAM [PATH CALLS FAULT WHEN]: runs PROGRAM here (with that
# fault, as inject does) and prints "flushed" where its flushes keep their
# order: the scratch file flushed before its rename, every rename or link
# followed by a flush of the folder before the next and before the end.
# The program must exit 0 and print nothing.
flushed() {
  local program=$1 out traced='?rename,renameat,renameat2,?link,linkat,fsync' && shift
  if [ $# = 0 ]; then out=$(within 20 strace -f -y -o "$work/trace" -e trace="$traced" "$bin/$program" 2>&1)
  else out=$(inject -o "$work/trace" -t "$traced" "$@" "$bin/$program" 2>&1); fi
  [ $? = 0 ] && [ -z "$out" ] || echo "FAIL $program: $out" >&2
  awk -v dir="<$PWD>)" -v scratch="<$PWD/liblist_tv_temp.gam>)" '
    / (rename|link)/ && !/INJECTED/ {
      if (pending) bad = "a second rename or link before the folder was flushed"
      if (/liblist_tv_temp.gam",/ && !scratch_flushed) bad = "the scratch file renamed before it was flushed"
      pending = 1
    }
    / fsync\(/ && index($0, dir) { pending = 0 }
    / fsync\(/ && index($0, scratch) { scratch_flushed = 1 }
    END { print bad ? bad : pending ? "not flushed at the end" : "flushed" }' "$work/trace"
}

mod nolinks
check "install without links flushes in order" flushed "$(flushed install "" '?link,linkat' EPERM 1+)"
check "install without links keeps mode and owner" "$kept" "$(kept_as liblist.gam)"
mod there_and_back && touch -d 2001-01-01 liblist.gam
check "install flushes in order" flushed "$(flushed install)"
check "install keeps mode and owner" "$kept" "$(kept_as liblist.gam)"
start=$(date +%s)
check "restore flushes the folder" flushed "$(flushed uninstall)"
check "restore makes liblist.gam newer than the backup was, and keeps mode and owner" "newer $kept" \
  "$([ "$(stat -c %Y liblist.gam)" -ge "$start" ] && echo newer) $(kept_as liblist.gam)"
mod rebuilt && within 20 "$bin/install" && rm liblist_tv_backup.gam && old=$(stat -c %i liblist.gam)
check "rebuild flushes the folder" flushed "$(flushed uninstall)"
check "rebuild writes a new file, with mode and owner" "new $kept" \
  "$([ "$(stat -c %i liblist.gam)" != "$old" ] && echo new) $(kept_as liblist.gam)"
mod group 4343:4545 && chown 4242:4343 .
within 20 setpriv --reuid=4242 --regid=4343 --groups=4545 "$bin/install"
check "a runner who may not keep the owner keeps the group" "4242:4545" "$(stat -c %u:%g liblist.gam)"
mod read_only 4242:4343 0444 && chown 4242:4343 .
within 20 "${account[@]}" "$bin/install" && rm liblist_tv_backup.gam
within 20 "${account[@]}" "$bin/uninstall"
check "a read-only file installed and rebuilt by its owner" "444 4242:4343 regular file 473" \
  "$(kept_as liblist.gam) $(stat -c %s liblist.gam)"

# A device behind root's own link in root's own folder, or behind an
# account's own link in its folder with the account running, is refused
# from its name, never opened (-y shows the file behind each descriptor
# opened).
mkdir -m 0755 "$work/device" && ln -s /dev/ptmx "$work/device/liblist.gam" && cd "$work/device"
within 20 strace -f -y -o "$work/trace" -e trace=openat "$bin/install" 2>/dev/null
check "device behind a link: never opened" 0 "$(grep -c 'ptmx>' "$work/trace")"
mod device_account && chown 4242:4343 . && ln -sf /dev/ptmx liblist.gam && chown -h 4242:4343 liblist.gam
within 20 strace -f -y -o "$work/trace" -e trace=openat "${account[@]}" "$bin/install" 2>/dev/null
check "device behind an account's own link, run by the account: never opened" 0 "$(grep -c 'ptmx>' "$work/trace")"
# Between root's look and root's open, made certain by a delay injected
# into the open: the account's liblist.gam replaced by a link to its FIFO,
# or by a FIFO.  The open follows no link, and the open file decides:
# nothing of it is opened or read.
mkfifo "$work/fifo" && chown 4242:4343 "$work/fifo"
for shape in "ln -s $work/fifo" mkfifo; do
  mod "swap-${#shape}" && chown 4242:4343 .
  inject -o "$work/trace" -t read liblist.gam openat delay_enter=1000000 1 "$bin/install" 2>/dev/null &
  sleep 0.4 && $shape new.gam && chown -h 4242:4343 new.gam && mv -T new.gam liblist.gam
  wait $!
  check "put in place between look and open ($shape): refused, nothing of it opened or read" "1 0 0" \
    "$? $(grep -c 'fifo>' "$work/trace") $(grep -c ' read(' "$work/trace")"
done
# The account's own link in its own folder, pointed at another whole file
# in that instant: the file opened is not the one looked at, and is refused
# unread.  (Root reads its own link's text once, and opens what it named.)
mod retarget && chown 4242:4343 . && mv liblist.gam looked.gam && cp -p looked.gam other.gam &&
  echo '// another file' >>other.gam && ln -s looked.gam liblist.gam && chown -h 4242:4343 liblist.gam
inject liblist.gam openat delay_enter=1000000 1 "${account[@]}" "$bin/install" 2>"$work/err" &
sleep 0.4 && ln -s other.gam new.gam && chown -h 4242:4343 new.gam && mv -T new.gam liblist.gam
wait $!
check "a link pointed elsewhere between look and open: refused unread" \
  "1 install: cannot open liblist.gam: it changed while it was opened; nothing was changed" "$? $(cat "$work/err")"
# Another process holds a shared lock on the folder, and the program starts
# with SIGALRM blocked: it still gives up after its wait, and says so.
mod lock && { flock -s . sleep 9 & } && sleep 0.3
within 20 perl -MPOSIX -e 'sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM)); exec @ARGV' \
  "$bin/install" 2>"$work/err"
check "lock held, SIGALRM blocked: busy" "1 another process holds a lock on it" \
  "$? $(sed 's/.*: \(another process holds a lock on it\);.*/\1/' "$work/err")"
kill %1 2>/dev/null; wait
# A read-only file system: the dry run foresees the run's refusal.
mod readonly && mount --bind . . && mount -o remount,ro,bind . && cd "$work/readonly"
check "read-only file system: the dry run refuses as the run does" \
  "$(printf 'install: cannot write in the mod folder: Read-only file system; nothing was changed\nstatus 1\n%.0s' 1 2)" \
  "$(for option in -n -v; do within 20 "$bin/install" "$option" 2>&1; echo "status $?"; done)"

# The access ACL goes with the file, and a folder's default ACL does not
# reach a file that had none.
mod acl 0:0 0600
if setfacl -m u:nobody:r liblist.gam 2>/dev/null; then
  acl=$(getfacl -cp liblist.gam)
  check "install switches and keeps the ACL" "0 $acl" "$(within 20 "$bin/install"; echo "$? $(getfacl -cp liblist.gam)")"
  within 20 "$bin/uninstall" && setfacl -b liblist.gam && setfacl -d -m u:nobody:rw . && within 20 "$bin/install"
  check "no ACL from the folder's default" "" "$(getfacl -cps liblist.gam)"
else
  echo "skipped: ACLs (no setfacl, or a file system without them)"
fi
# An ACL of more than 4 KiB (600 named users), which tmpfs allows.
mkdir "$work/tmpfs" && seq -f "u:%g:r" 10000 10599 >"$work/users.acl"
if mount -t tmpfs -o size=4m tmpfs "$work/tmpfs" 2>/dev/null && cp "$examples/firearms/liblist.gam" "$work/tmpfs/" &&
   setfacl -M "$work/users.acl" "$work/tmpfs/liblist.gam" 2>/dev/null; then
  acl=$(getfacl -cp "$work/tmpfs/liblist.gam")
  check "install switches and keeps an ACL of 600 users" "0 $acl" \
    "$(cd "$work/tmpfs" && within 20 "$bin/install"; echo "$? $(getfacl -cp liblist.gam)")"
else
  echo "skipped: an ACL of 600 users (no tmpfs can be mounted here, or it takes no such ACL)"
fi
exit "$failed"
