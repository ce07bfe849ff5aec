#!/bin/bash
# fault_test.sh PROGRAM_DIR EXAMPLES_DIR
#
# Fails, and then kills, every file-system call of the programs in turn and
# checks what is left.  For each scenario a clean run under strace counts the
# calls (those made before the program's first look at the folder, the
# lock, belong to the loader and are skipped); then the program is run once
# per counted call with that call failing with a realistic error, and once
# with the process killed at it.
#
# After a failed call the folder must be exactly as a clean run leaves it,
# and the program must exit 0 and print nothing; or it must be exactly as
# before the run (for an uninstall whose restore failed: rebuilt, with the
# backup kept), and the program must exit 1 and print one line on standard
# error.  A scratch file may remain only when deleting it was the failed
# call.
# After a kill, liblist.gam must be the file from before the run or the
# complete new one, the original's bytes must still be in the folder, and
# running the same program again must leave the folder as a clean run (or
# two) leaves it.
set -u
bin=$(cd "$1" && pwd)
examples=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Names a platform may lack (arm64 has no rename, link or unlink) carry
# strace's "?", which skips them there.
calls=openat,flock,read,write,close,?rename,renameat,renameat2,?link,linkat,?unlink,unlinkat,fsync,fdatasync,lseek,fstat,newfstatat,fchmod,fchown,utimensat
scratch=liblist_tv_temp.gam
scenarios="install_firearms install_dod uninstall_installed uninstall_rebuild"
tried=0
held=0

error_for() {
  case $1 in
    write) echo ENOSPC ;;
    openat) echo EACCES ;;
    flock) echo ENOLCK ;;     # a file system that offers no lock
    link*) echo EPERM ;;      # a file system without hard links
    rename* | unlink*) echo EBUSY ;;
    fchmod | fchown | utimensat) echo EPERM ;;
    *) echo EIO ;;  # read, close, fsync, fdatasync, lseek, fstat
  esac
}

program_of() {
  case $1 in install_*) echo install ;; *) echo uninstall ;; esac
}

# setup SCENARIO DIR: lays out the mod folder as it is before the run.
setup() {
  rm -rf "$2" && mkdir -p "$2"
  case $1 in
    install_firearms) cp "$examples/firearms/liblist.gam" "$2/" ;;
    install_dod) cp "$examples/dod/liblist.gam" "$2/" ;;
    uninstall_installed)
      cp "$examples/firearms/liblist.gam" "$2/"
      (cd "$2" && "$bin/install") ;;
    uninstall_rebuild)  # a plain folder whose file still names the bot
      cp "$examples/firearms/liblist.gam" "$2/"
      (cd "$2" && "$bin/install") && rm "$2/liblist_tv_backup.gam" ;;
  esac
}

# hash FILE: a checksum of FILE's bytes, or "none".
hash() { if [ -f "$1" ]; then sha256sum < "$1" | cut -c1-16; else echo none; fi; }

# state DIR: every entry of DIR with a checksum of its bytes, one per line.
state() {
  (cd "$1" && for f in $(ls -A); do printf '%s %s\n' "$f" "$(hash "$f")"; done)
}

# run_clean SCENARIO DIR COMMAND...: sets DIR up and runs each COMMAND there.
run_clean() {
  local scenario=$1 dir=$2 step
  shift 2
  setup "$scenario" "$dir"
  for step in "$@"; do (cd "$dir" && "$bin/$step"); done
}

# report OK WHAT: counts one fault point, printing the ones that did not hold.
report() {
  tried=$((tried + 1))
  if [ "$1" = ok ]; then held=$((held + 1)); else echo "FAIL $2"; fi
}

for scenario in $scenarios; do
  program=$(program_of "$scenario")
  run_clean "$scenario" "$work/s" && before=$(state "$work/s")
  old=$(hash "$work/s/liblist.gam")
  original=$(hash "$work/s/liblist_tv_backup.gam")
  [ "$original" = none ] && original=$old
  [ "$scenario" = uninstall_rebuild ] && original=any  # a rebuild keeps none
  run_clean "$scenario" "$work/s" "$program" && after=$(state "$work/s")
  new=$(hash "$work/s/liblist.gam")
  run_clean "$scenario" "$work/s" "$program" "$program" && twice=$(state "$work/s")
  restore_failed=none
  if [ "$scenario" = uninstall_installed ]; then
    setup "$scenario" "$work/s"
    mv "$work/s/liblist_tv_backup.gam" "$work/backup"
    (cd "$work/s" && "$bin/uninstall")
    mv "$work/backup" "$work/s/liblist_tv_backup.gam"
    restore_failed=$(state "$work/s")
  fi

  setup "$scenario" "$work/s"
  (cd "$work/s" && strace -f -o "$work/trace" -e trace="$calls" "$bin/$program")
  first=$(grep -n 'openat(AT_FDCWD, "\."' "$work/trace" | head -n 1 | cut -d: -f1)
  points=0
  IFS=, read -ra call_list <<<"$calls"
  for call in "${call_list[@]}"; do
    name=${call#\?}
    grep -E "^[0-9]+ +$name\(" "$work/trace" > "$work/calls" || continue
    skip=$(head -n "$((first - 1))" "$work/trace" | grep -cE "^[0-9]+ +$name\(")
    total=$(wc -l < "$work/calls")
    for ((n = skip + 1; n <= total; n++)); do
      points=$((points + 1))
      what="$scenario: $name #$n ($(sed -n "${n}p" "$work/calls" | cut -c1-70))"
      scratch_delete=no
      case $name in unlink*) grep -q "\"$scratch\"" <<<"$(sed -n "${n}p" "$work/calls")" && scratch_delete=yes ;; esac

      # Fail the call.
      setup "$scenario" "$work/run"
      (cd "$work/run" && strace -f -o "$work/inject" -e trace="$call" \
         -e inject="$call:error=$(error_for "$name"):when=$n" "$bin/$program" \
         >"$work/out" 2>"$work/err")
      status=$?
      out=$(cat "$work/out") lines=$(wc -l < "$work/err")
      now=$(state "$work/run")
      [ "$scratch_delete" = yes ] && now=$(grep -v "^$scratch " <<<"$now")
      if ! grep -q INJECTED "$work/inject"; then
        report fail "$what failed: the call was not reached"
      elif [ -n "$out" ]; then
        report fail "$what failed: printed '$out' on standard output"
      elif [ "$now" = "$after" ] && { [ "$status" != 0 ] || [ "$lines" != 0 ]; }; then
        report fail "$what failed: switched, but exit status $status and $lines lines on standard error"
      elif [ "$now" = "$before" ] || [ "$now" = "$restore_failed" ]; then
        if [ "$status" = 1 ] && [ "$lines" = 1 ]; then report ok
        else report fail "$what failed: not switched, but exit status $status and $lines lines on standard error"; fi
      elif [ "$now" != "$after" ]; then
        report fail "$what failed: the folder holds"$'\n'"$now"
      else
        report ok
      fi

      # Kill the process at the call, look at liblist.gam, then run the
      # same program once more.
      setup "$scenario" "$work/run"
      # (strace dies of the same signal; the shell's note on that is dropped)
      (cd "$work/run" && strace -f -o "$work/inject" -e trace="$call" \
         -e inject="$call:signal=KILL:when=$n" "$bin/$program" || true) > /dev/null 2>&1
      live=$(hash "$work/run/liblist.gam")
      kept=$(hash "$work/run/liblist_tv_backup.gam")
      (cd "$work/run" && "$bin/$program")
      now=$(state "$work/run")
      if ! grep -q 'killed by SIGKILL' "$work/inject"; then
        report fail "$what killed: the call was not reached"
      elif [ "$live" != "$old" ] && [ "$live" != "$new" ]; then
        report fail "$what killed: liblist.gam is neither the old nor the new file"
      elif [ "$original" != any ] && [ "$live" != "$original" ] && [ "$kept" != "$original" ]; then
        report fail "$what killed: the original is gone"
      elif [ "$now" != "$after" ] && [ "$now" != "$twice" ]; then
        report fail "$what killed, then $program again: the folder holds"$'\n'"$now"
      else
        report ok
      fi
    done
  done
  echo "$scenario: $points calls counted, each failed and killed"
done

echo "fault points tried: $tried, held: $held"
echo "$held passed, $((tried - held)) failed"
[ "$tried" -gt 0 ] && [ "$held" = "$tried" ]
