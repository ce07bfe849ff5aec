#!/bin/bash
# fault_test.sh PROGRAM_DIR
#
# Fails, and then kills, every file-system call of the programs in turn and
# checks what is left.  The runs come from files named `faults` in the
# golden cases, with folders relative to the case's:
#   run PROGRAM from DIR   PROGRAM run in a mod folder laid out as DIR
#   installed DIR...       as install leaves it (the others: as it may
#                          leave it after a killed run)
#   plain DIR              as uninstall leaves it
#   refused DIR            as a failed run may leave it, besides as it began
# A clean run under strace, which must end as its program's end, counts the
# calls (those before the first look at the folder, the lock, are the
# loader's); then the program runs once per call with that call failing
# with a realistic error, and once killed at it.  After a failure the folder
# must be as after a clean run, with status 0 and no output; or as it began
# (or refused), with status 1 and one line on standard error; a scratch file
# may remain only where deleting it failed.  After a kill, liblist.gam must
# be the old or the complete new file, the original's bytes must still be
# in the folder where it held them, and each program, run on its own copy
# of the folder, must reach its own end.
set -u
bin=$(cd "$1" && pwd)
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ulimit -f 20000
calls=openat,flock,read,write,close,?rename,renameat,renameat2,?link,linkat,?unlink,unlinkat,fsync,fdatasync,lseek,fstat,newfstatat,fchmod,fchown,utimensat
scratch=liblist_tv_temp.gam
passed=0 failures=0

# error CALL: what a file system says to CALL: no space, no access, no lock,
# no hard links or owners, busy; an I/O error to the others.
error() { case $1 in write) echo ENOSPC ;; openat) echo EACCES ;; flock) echo ENOLCK ;;
  link* | fchmod | fchown | utimensat) echo EPERM ;; rename* | unlink*) echo EBUSY ;; *) echo EIO ;; esac; }

# verdict WHAT WRONG: counts a fault point; prints it where WRONG is not empty.
verdict() { if [ -z "$2" ]; then passed=$((passed + 1)); else failures=$((failures + 1)); echo "FAIL $1: $2"; fi; }

# unreached STATUS: says why a run under inject reached no verdict, if so.
unreached() { case $1 in 99) echo "the call was not reached" ;; 124) echo "the program blocked" ;; *) return 1 ;; esac; }

# failing N CALL LINE: fails the Nth CALL (LINE in the trace): what went wrong.
failing() {
  setup "$work/run" "$from"
  (cd "$work/run" && inject "" "$2" "$(error "$2")" "$1" "$bin/$program") >"$work/out" 2>"$work/err"
  local status=$? lines=$(wc -l <"$work/err") now=$(state "$work/run")
  [[ $2 = unlink* && $3 = *\"$scratch\"* ]] && now=$(grep -v "^$scratch " <<<"$now")
  if unreached "$status"; then :
  elif [ -s "$work/out" ]; then echo "printed '$(cat "$work/out")' on standard output"
  elif [ "$now" = "$end" ]; then [ "$status $lines" = "0 0" ] || echo "switched, but exit status $status and $lines lines on standard error"
  elif one_of "$now" "${began[@]}"; then [ "$status $lines" = "1 1" ] || echo "not switched, but exit status $status and $lines lines on standard error"
  else echo "the folder holds"$'\n'"$now"
  fi
}

# killed N CALL: kills the program at the Nth CALL, then runs install there
# and uninstall on a copy: what went wrong.
killed() {
  setup "$work/run" "$from"
  (cd "$work/run" && inject "" "$2" signal=KILL "$1" "$bin/$program") >/dev/null 2>&1
  unreached $? && return
  local live=$(hash "$work/run/liblist.gam") kept=$(hash "$work/run/liblist_tv_backup.gam")
  one_of "$live" "$old" "$new" || { echo "liblist.gam is neither the old nor the new file"; return; }
  [ "$original" = any ] || one_of "$original" "$live" "$kept" || { echo "the original is gone"; return; }
  lay "$work/other" "$work/run"
  (cd "$work/run" && within 20 "$bin/install"; cd "$work/other" && within 20 "$bin/uninstall") >/dev/null 2>&1
  one_of "$(state "$work/run")" "${installed[@]}" || { echo "then install: the folder holds"$'\n'"$(state "$work/run")"; return; }
  [ "$(state "$work/other")" = "$plain" ] || echo "then uninstall: the folder holds"$'\n'"$(state "$work/other")"
}

# field NAME: the value of NAME in the file $faults.
field() { sed -n "s/^$1 //p" "$faults"; }

for faults in "$cases"/*/faults; do
  case=$(dirname "$faults")
  read -ra installed_dirs <<<"$(field installed)"
  plain_dir=$(field plain) refused=$(field refused)
  installed=() && for dir in "${installed_dirs[@]}"; do installed+=("$(golden "$case/$dir")"); done
  plain=$(golden "$case/$plain_dir") refused_state=${refused:+$(golden "$case/$refused")}
  while read -r _ program _ from <&3; do
    what="$(basename "$case"): $program from $from"
    end_dir=$case/$plain_dir end=$plain
    [ "$program" = install ] && end_dir=$case/${installed_dirs[0]} end=${installed[0]}
    from=$case/$from
    setup "$work/s" "$from" && before=$(state "$work/s")
    began=("$before" ${refused:+"$refused_state"})
    old=$(hash "$from/liblist.gam") new=$(hash "$end_dir/liblist.gam") original=$(hash "$case/$plain_dir/liblist.gam")
    grep -q " $original\$" <<<"$before" || original=any  # a rebuild has no original to keep
    (cd "$work/s" && within 20 strace -f -o "$work/trace" -e trace="$calls" "$bin/$program")
    [ "$(state "$work/s")" = "$end" ] || verdict "$what, a clean run" "the folder holds"$'\n'"$(state "$work/s")"
    points=0
    while read -r name n line <&4; do
      points=$((points + 1))
      verdict "$what: $name #$n ($line) failed" "$(failing "$n" "$name" "$line")"
      verdict "$what: $name #$n ($line) killed" "$(killed "$n" "$name")"
    done 4< <(awk '/openat\(AT_FDCWD, "\."/ { look = 1 }  # the first look at the folder; calls before it are the loader
                   /^[0-9]+ +[a-z0-9_]+\(/ { call = $2; sub(/\(.*/, "", call); n[call]++
                                             line = $0; sub(/^[0-9]+ +/, "", line); gsub(/ +/, " ", line)
                                             if (look) print call, n[call], substr(line, 1, 60) }' "$work/trace")
    [ "$points" -gt 0 ] || verdict "$what" "no call counted"
    echo "$what: $points calls counted, each failed and killed"
  done 3< <(grep '^run ' "$faults")
done

echo "$passed passed, $failures failed"
[ "$passed" -gt 0 ] && [ "$failures" = 0 ]
