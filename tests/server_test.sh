#!/bin/bash
# server_test.sh PROGRAM_DIR EXAMPLES_DIR
#
# A mod folder on a Linux server: it belongs to the game server's account,
# and root switches it under umask 077.  liblist.gam must keep its mode and
# owner through install, restore and rebuild; a restore must be newer than
# any converted copy an engine keeps; every rename must be followed by a
# flush of the folder; and a link planted at the scratch name must never be
# followed.  Needs root to give files to another account; skipped otherwise.
set -u
source "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || skip "skipped: needs root to own files by another account"
bin=$(cd "$1" && pwd)
examples=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 077

# run PROGRAM [STRACE_ARGS...]: runs it in the mod folder under strace and
# prints "flushed" when the flushes keep their order: the scratch file is
# flushed before it is renamed, and every rename or link is followed by a
# flush of the folder before the next one and before the run ends.  The
# program must exit 0 and print nothing.
run() {
  local out status program=$1
  shift
  out=$(strace -f -y -o "$work/trace" -e trace=?rename,renameat,renameat2,?link,linkat,fsync "$@" "$bin/$program" 2>&1)
  status=$?
  [ "$status" = 0 ] && [ -z "$out" ] || echo "FAIL $program exited $status with output '$out'" >&2
  awk -v dir="<$mod>)" -v scratch="<$mod/liblist_tv_temp.gam>)" '
    / (rename|link)/ && !/INJECTED/ {
      if (pending) bad = "a second rename or link before the folder was flushed"
      if (/liblist_tv_temp.gam",/ && !scratch_flushed) bad = "the scratch file renamed before it was flushed"
      pending = 1
    }
    / fsync\(/ && index($0, dir) { pending = 0 }
    / fsync\(/ && index($0, scratch) { scratch_flushed = 1 }
    END { print bad ? bad : pending ? "not flushed at the end" : "flushed" }' "$work/trace"
}

# kept_as FILE: its mode, owner and group, and type.
kept_as() { stat -c '%a %u:%g %F' "$1"; }
# modes: every file of the folder with its mode, on one line.
modes() { stat -c '%n %a' * | paste -sd ' '; }

mod=$work/mod
mkdir "$mod" && cd "$mod" || exit 1
cp "$examples/firearms/liblist.gam" .
chown 4242:4343 . liblist.gam && chmod 0640 liblist.gam && chmod 0755 .
touch -d 2001-01-01 liblist.gam
kept='640 4242:4343 regular file'

check "install without links flushes in order" flushed "$(run install -e inject=link,linkat:error=EPERM)"
"$bin/uninstall"
check "install flushes in order" flushed "$(run install)"
check "install keeps mode and owner" "$kept" "$(kept_as liblist.gam)"

start=$(date +%s)
check "restore flushes the folder" flushed "$(run uninstall)"
[ "$(stat -c %Y liblist.gam)" -ge "$start" ] && newer=yes || newer=no
check "restore makes liblist.gam newer than the backup was" yes "$newer"
check "restore keeps mode and owner" "$kept" "$(kept_as liblist.gam)"

"$bin/install" && rm liblist_tv_backup.gam  # the backup lost: rebuild
old=$(stat -c %i liblist.gam)
check "rebuild flushes the folder" flushed "$(run uninstall)"
[ "$(stat -c %i liblist.gam)" != "$old" ] && rebuilt=yes || rebuilt=no
check "rebuild writes a new file" yes "$rebuilt"
check "rebuild keeps mode and owner" "$kept" "$(kept_as liblist.gam)"

# The game server's account plants a link at the scratch name.
printf 'root:x:0:0:root:/root:/bin/bash\n' > "$work/outside"
before=$(stat -c '%a %u:%g' "$work/outside")
"$bin/install" && rm liblist_tv_backup.gam
ln -s "$work/outside" liblist_tv_temp.gam
"$bin/uninstall"
check "planted link: outside file untouched" "root:x:0:0:root:/root:/bin/bash" "$(cat "$work/outside")"
check "planted link: outside mode and owner untouched" "$before" "$(stat -c '%a %u:%g' "$work/outside")"
check "planted link: liblist.gam rebuilt as a regular file" "$kept" "$(kept_as liblist.gam)"
check "planted link: removed" "" "$(ls -A | grep -vx liblist.gam)"

# A file system that refuses to set the bits: no switch unless they match.
cd "$work" && rm -rf "$mod" && mkdir "$mod" && cd "$mod" || exit 1
cp "$examples/firearms/liblist.gam" . && chmod 0640 liblist.gam
strace -o /dev/null -e inject=fchmod:error=EPERM "$bin/install"
check "bits refused: nothing switched" "liblist.gam 640" "$(modes)"
chmod 0600 liblist.gam
strace -o /dev/null -e inject=fchmod:error=EPERM "$bin/install"
check "bits refused but already the same: switched" "liblist.gam 600 liblist_tv_backup.gam 600" "$(modes)"

# A read-only liblist.gam, switched by its owner without root.
rm -f ./* && cp "$examples/firearms/liblist.gam" . && chmod 0444 liblist.gam
chown -R 4242:4343 .
setpriv --reuid=4242 --regid=4343 --clear-groups "$bin/install"
check "read-only file, install by its owner" "444 4242:4343 regular file" "$(kept_as liblist.gam)"
rm liblist_tv_backup.gam
setpriv --reuid=4242 --regid=4343 --clear-groups "$bin/uninstall"
check "read-only file, rebuild by its owner" "444 4242:4343 regular file 473" "$(kept_as liblist.gam) $(stat -c %s liblist.gam)"

# A read-only folder, for its own account: no switch either way, status 1
# and one line on standard error, and every file as it was.
as_owner() { setpriv --reuid=4242 --regid=4343 --clear-groups "$@"; }
# refused PROGRAM [OPTION]: "status, lines on standard error, folder unchanged".
refused() {
  local was now status
  was=$(ls -l --time-style=+%s | sha256sum)
  as_owner "$bin/$1" "${@:2}" 2>"$work/err"
  status=$?
  now=$(ls -l --time-style=+%s | sha256sum)
  echo "$status, $(wc -l < "$work/err") line, $([ "$was" = "$now" ] && echo unchanged || echo changed)"
}
rm -f ./* && cp "$examples/firearms/liblist.gam" . && chown -R 4242:4343 . && chmod 0555 .
check "read-only folder: install refused" "1, 1 line, unchanged" "$(refused install)"
check "read-only folder: a dry run foresees it" "1, 1 line, unchanged" "$(refused install -n)"
chmod 0755 . && as_owner "$bin/install" && chmod 0555 .
check "read-only folder: uninstall refused" "1, 1 line, unchanged" "$(refused uninstall)"
chmod 0755 .

# Root in the account's folder.  A link of the account to a file that only
# root can reach (a world-readable file in a folder only root may enter) is
# never followed: nothing of it comes into the folder.
mkdir -m 0700 "$work/private"
printf 'game "x"\nmpentity "x"\nsecret\ngamedll_linux "x"\n' > "$work/private/secret"
# Nor is root's own link there: the account may change where it leads on.
for name in liblist.gam liblist_tv_backup.gam; do
  for owner in 4242:4343 0:0; do
    why="that belongs to another account"
    [ "$owner" = 0:0 ] && why="in a folder that another account owns or may change, where root follows no link"
    rm -f ./* && cp "$examples/firearms/liblist.gam" .
    ln -sf "$work/private/secret" "$name" && chown -h "$owner" "$name"
    for program in install uninstall; do
      "$bin/$program" 2>"$work/err"
      check "$owner's link at $name: $program refused" "$? cannot use $name: it is a symbolic link $why" \
        "$(cut -d';' -f1 "$work/err" | sed "s/^$program: /1 /")"
      check "$owner's link at $name: nothing of it read" "" "$(find . -type f -exec grep -l secret {} +)"
    done
  done
done
# A device behind root's own link in root's own folder is refused from its
# name, never opened (-y shows the file behind each descriptor opened).
mkdir -m 0755 "$work/own" && ln -s /dev/ptmx "$work/own/liblist.gam"
(cd "$work/own" && strace -f -y -o "$work/trace" -e trace=openat "$bin/install" 2>/dev/null)
check "device behind a link: never opened" 0 "$(grep -c 'ptmx>' "$work/trace")"
# The account swaps its liblist.gam for a link to its FIFO, or for a FIFO,
# between root's look and root's open, made certain by a delay injected
# into the open: the open follows no link, and the open file decides.
mkfifo "$work/fifo" && chown 4242:4343 "$work/fifo"
for shape in "ln -s $work/fifo" mkfifo; do
  rm -f ./* && cp "$examples/firearms/liblist.gam" . && chown 4242:4343 liblist.gam
  strace -f -y -o "$work/trace" -P liblist.gam -e trace=openat,read \
    -e inject=openat:delay_enter=1000000:when=1 "$bin/install" 2>/dev/null &
  sleep 0.4 && $shape new.gam && chown -h 4242:4343 new.gam && mv -T new.gam liblist.gam
  wait $!
  check "swapped between look and open ($shape): refused, nothing of it opened or read" "1 0 0" \
    "$? $(grep -c 'fifo>' "$work/trace") $(grep -c ' read(' "$work/trace")"
done
rm liblist.gam && cp "$examples/firearms/liblist.gam" . && chown 4242:4343 liblist.gam

# The account in its own folder of mode 0300 (no listing): no lock, so no
# switch.
chmod 0300 .
check "folder without read permission: install refused" "1, 1 line, unchanged" "$(refused install)"
chmod 0755 .
# Another process holds a shared lock on the folder, and the program starts
# with SIGALRM blocked: it still gives up after its wait, and says so.
flock -s . sleep 9 &
sleep 0.3
timeout 20 perl -MPOSIX -e 'sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM)); exec @ARGV' \
  "$bin/install" 2>"$work/err"
check "lock held, SIGALRM blocked: busy" "1 another process holds a lock on it" \
  "$? $(sed 's/.*: \(another process holds a lock on it\);.*/\1/' "$work/err")"
kill %1 2>/dev/null; wait

# A runner who is not the file's owner keeps at least its group, where it
# belongs to that group.
rm -f ./* && cp "$examples/firearms/liblist.gam" . && chown 4343:4545 liblist.gam && chmod 0640 liblist.gam
setpriv --reuid=4242 --regid=4343 --groups=4545 "$bin/install"
check "the group kept where the owner cannot be" "4242:4545" "$(stat -c %u:%g liblist.gam)"

# A sticky folder with another account's liblist.gam: refused before
# anything is made, but to root and the folder's owner.  A backup that
# neither the runner, root nor liblist.gam's owner could have made is
# refused by both programs.
sticky=$work/sticky && mkdir -m 1777 "$sticky"
# in_sticky COMMAND...: "status, lines on standard error: the first's words
# up to its second colon, names in the folder".
in_sticky() {
  (cd "$sticky" && "$@" 2>"$work/err")
  echo "$?, $(wc -l < "$work/err"):$(cut -d: -f2 "$work/err") $(ls -A "$sticky" | paste -sd' ')"
}
reset_sticky() {
  rm -f "$sticky"/* && cp "$examples/firearms/liblist.gam" "$sticky/" && chown "$1" "$sticky/liblist.gam" &&
    chmod 0644 "$sticky/liblist.gam"
}
reset_sticky 4242:4343
check "sticky folder, another account's file: refused, nothing made" "1, 1: cannot replace liblist.gam liblist.gam" \
  "$(in_sticky setpriv --reuid=4444 --regid=4444 --clear-groups "$bin/install")"
chown 4444 "$sticky"
check "sticky folder, another account's file: root may switch it" "0, 0: liblist.gam liblist_tv_backup.gam" \
  "$(in_sticky "$bin/install")"
reset_sticky 4242:4343
check "sticky folder, another account's file: the folder's owner may switch it" \
  "0, 0: liblist.gam liblist_tv_backup.gam" "$(in_sticky setpriv --reuid=4444 --regid=4444 --clear-groups "$bin/install")"
check "... but not back: the original, now of another account than liblist.gam's, is left for a look" \
  "1, 1: cannot use liblist_tv_backup.gam liblist.gam liblist_tv_backup.gam" "$(in_sticky setpriv --reuid=4444 --regid=4444 --clear-groups "$bin/uninstall")"
reset_sticky 0:0 && chown 0 "$sticky" && (cd "$sticky" && "$bin/install")
printf 'game "planted"\nmpentity "x"\n' >"$work/planted" && chown 4444 "$work/planted" && chmod 0666 "$work/planted"
mv "$work/planted" "$sticky/liblist_tv_backup.gam"
for program in uninstall install; do
  check "sticky folder, a backup of another account: $program refused" \
    "1, 1: cannot use liblist_tv_backup.gam liblist.gam liblist_tv_backup.gam" "$(in_sticky "$bin/$program")"
done
check "the refusal names the backup's owner" "it belongs to user 4444," "$(cut -d: -f3 "$work/err" | cut -d' ' -f2-6)"

# An append-only folder (chattr +a): refused before anything is made.
rm -f ./* && cp "$examples/firearms/liblist.gam" .
if chattr +a . 2>/dev/null; then
  "$bin/install" 2>"$work/err"
  check "append-only folder: refused, nothing made" "1 liblist.gam install: cannot change the mod folder" \
    "$? $(ls -A) $(sed 's/: it is append-only (chattr +a).*//' "$work/err")"
  chattr -a .
else
  echo "skipped: the append-only folder (chattr +a is refused here)"
fi

# The access ACL goes with the file, and a folder's default ACL does not
# reach a file that had none.
rm -f ./* && cp "$examples/firearms/liblist.gam" . && chmod 0600 liblist.gam
if setfacl -m u:nobody:r liblist.gam 2>/dev/null; then
  acl=$(getfacl -cp liblist.gam)
  check "install switches and keeps the ACL" "0 $acl" "$("$bin/install"; echo "$? $(getfacl -cp liblist.gam)")"
  "$bin/uninstall" && setfacl -b liblist.gam && setfacl -d -m u:nobody:rw .
  "$bin/install"
  check "no ACL from the folder's default" "" "$(getfacl -cps liblist.gam)"
  setfacl -k .
else
  echo "skipped: ACLs (no setfacl, or a file system without them)"
fi
# An ACL of more than 4 KiB (600 named users), which tmpfs allows.
mkdir "$work/tmpfs" && seq -f 'u:%g:r' 10000 10599 >"$work/acl"
if mount -t tmpfs -o size=4m tmpfs "$work/tmpfs" 2>/dev/null; then
  cp "$examples/firearms/liblist.gam" "$work/tmpfs/"
  if setfacl -M "$work/acl" "$work/tmpfs/liblist.gam" 2>/dev/null; then
    acl=$(getfacl -cp "$work/tmpfs/liblist.gam")
    check "install switches and keeps an ACL of 600 users" "0 $acl" \
      "$(cd "$work/tmpfs" && "$bin/install"; echo "$? $(getfacl -cp liblist.gam)")"
  else
    echo "skipped: an ACL of 600 users (this tmpfs takes no such ACL)"
  fi
  umount "$work/tmpfs"
else
  echo "skipped: an ACL of 600 users (no tmpfs can be mounted here)"
fi

exit "$failed"
