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
# The states come from the golden cases (tests/cases), not from the
# programs: before, after a clean run, and, for a restore that failed, the
# installed file rebuilt beside the backup.  After a failed call the folder
# must be exactly as after a clean run, and the program must exit 0 and
# print nothing; or it must be as before (or rebuilt beside the backup),
# and the program must exit 1 and print one line on standard error.  A
# scratch file may remain only when deleting it was the failed call.
# After a kill, liblist.gam must be the file from before the run or the
# complete new one, the original's bytes must still be in the folder, and
# each program, run on its own copy of the folder, must reach its own end:
# install the installed state, uninstall the plain one.
set -u
bin=$(cd "$1" && pwd)
cases=$(cd "$2" && pwd)
source "$(dirname "$0")/lib.sh"
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

# The case folders of each scenario: before the run, after it, as install
# and as uninstall leave it, and a second state that install may leave (a
# rebuild killed before its rename leaves the bot's lines, which install
# then keeps as they are).
fa=$cases/install_firearms dod=$cases/install_dod_drops_linux_entry rebuild=$cases/rebuild_firearms/before
scenario_folders() {
  case $1 in
    install_firearms) echo "$fa/before $fa/after $fa/after $fa/before" ;;
    install_dod) echo "$dod/before $dod/after $dod/after $dod/before" ;;
    uninstall_installed) echo "$fa/after $fa/before $fa/after $fa/before" ;;
    uninstall_rebuild) echo "$rebuild $fa/before $fa/after $fa/before $rebuild" ;;
  esac
}

# setup SCENARIO DIR: lays out the mod folder as it is before the run.
setup() { lay "$2" "$(scenario_folders "$1" | cut -d' ' -f1)" && library "$2"; }

# ends DIR STATE...: whether DIR's state is one of the STATEs.
ends() { local now=$(state "$1") s; shift; for s in "$@"; do [ "$now" = "$s" ] && return 0; done; return 1; }

# report OK WHAT: counts one fault point, printing the ones that did not hold.
report() {
  tried=$((tried + 1))
  if [ "$1" = ok ]; then held=$((held + 1)); else echo "FAIL $2"; fi
}

for scenario in $scenarios; do
  program=${scenario%%_*}  # install_... or uninstall_...
  read -r _ after_dir installed_dir plain_dir kept_dir <<<"$(scenario_folders "$scenario")"
  setup "$scenario" "$work/s" && before=$(state "$work/s")
  after=$(state "$after_dir") installed=$(state "$installed_dir") plain=$(state "$plain_dir")
  also_installed=$installed
  [ -n "$kept_dir" ] && also_installed=$(state "$kept_dir")
  old=$(hash "$work/s/liblist.gam") new=$(hash "$after_dir/liblist.gam")
  original=$(hash "$plain_dir/liblist.gam")
  [ "$scenario" = uninstall_rebuild ] && original=any  # a rebuild keeps none
  # A restore that failed: the installed file rebuilt beside the backup.
  restore_failed=$(printf 'liblist.gam %s\nliblist_tv_backup.gam %s\n' "$original" "$original")

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

      # Kill the process at the call, look at liblist.gam, then run each
      # program on a copy of the folder.
      setup "$scenario" "$work/run"
      # (strace dies of the same signal; the shell's note on that is dropped)
      (cd "$work/run" && strace -f -o "$work/inject" -e trace="$call" \
         -e inject="$call:signal=KILL:when=$n" "$bin/$program" || true) > /dev/null 2>&1
      live=$(hash "$work/run/liblist.gam")
      kept=$(hash "$work/run/liblist_tv_backup.gam")
      lay "$work/other" "$work/run"
      (cd "$work/run" && "$bin/install")
      if ! grep -q 'killed by SIGKILL' "$work/inject"; then
        report fail "$what killed: the call was not reached"
      elif [ "$live" != "$old" ] && [ "$live" != "$new" ]; then
        report fail "$what killed: liblist.gam is neither the old nor the new file"
      elif [ "$original" != any ] && [ "$live" != "$original" ] && [ "$kept" != "$original" ]; then
        report fail "$what killed: the original is gone"
      else
        (cd "$work/other" && "$bin/uninstall")
        if ! ends "$work/run" "$installed" "$also_installed"; then
          report fail "$what killed, then install: the folder holds"$'\n'"$(state "$work/run")"
        elif ! ends "$work/other" "$plain"; then
          report fail "$what killed, then uninstall: the folder holds"$'\n'"$(state "$work/other")"
        else
          report ok
        fi
      fi
    done
  done
  echo "$scenario: $points calls counted, each failed and killed"
done

echo "fault points tried: $tried, held: $held"
echo "$held passed, $((tried - held)) failed"
[ "$tried" -gt 0 ] && [ "$held" = "$tried" ]
