#!/bin/bash
# windows_lock_test.sh WINE PROGRAM_DIR EXAMPLES_DIR
#
# Windows programs against a file held open with no sharing by another
# process (tests/hold_file.cc, run under the same Wine): a hold of about
# 300 ms is waited out and both programs switch; a hold of 5 s makes both
# fail with status 1 and one line on standard error, the folder as it was.
# Then a double-click: a program started with a console of its own
# ("start /wait") keeps it open about 3 s after a success and about 10 s
# after a failure, without holding the folder lock meanwhile; run from the
# test's own console, it exits at once.  (What it writes to that console
# cannot be read back under Wine.)
set -u
read -ra wine <<<"$1"
exe=$2
examples=$(cd "$3" && pwd)
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
mod=$work/mod
trap 'wait; rm -rf "$work"' EXIT
ulimit -f 20000

# hold MS: holds liblist.gam in the mod folder for MS milliseconds, in the
# background; returns once it is held.
hold() {
  (cd "$mod" && exec "${wine[@]}" "$exe/hold_file.exe" liblist.gam "$1") >"$work/held" &
  for _ in $(seq 400); do grep -q held "$work/held" && return 0; sleep 0.025; done
  echo "FAIL the helper never held liblist.gam"; exit 1
}

# setup plain|installed
setup() {
  rm -rf "$mod" && mkdir "$mod" && cp "$examples/firearms/liblist.gam" "$mod/" && library "$mod"
  [ "$1" = installed ] && (cd "$mod" && "${wine[@]}" "$exe/install.exe")
}


# check WHAT PROGRAM START MS STATUS LINES END: from the START state, holds
# liblist.gam for MS, runs PROGRAM, and wants STATUS, LINES lines on
# standard error and the folder as PROGRAM leaves it without a hold (END =
# done) or as it was (END = unchanged).
check() {
  local what=$1 program=$2 start=$3 ms=$4 want=$5 lines=$6 end=$7 expected status began took
  setup "$start"
  if [ "$end" = done ]; then
    (cd "$mod" && "${wine[@]}" "$exe/$program.exe")
  fi
  expected=$(state "$mod")
  setup "$start"
  hold "$ms"
  began=$(date +%s%N)
  (cd "$mod" && timeout 60 "${wine[@]}" "$exe/$program.exe") >"$work/out" 2>"$work/err"
  status=$?
  took=$(( ($(date +%s%N) - began) / 1000000 ))
  wait
  local said=$(wc -l < "$work/err") now=$(state "$mod")
  if [ "$status" = "$want" ] && [ "$said" = "$lines" ] && [ ! -s "$work/out" ] && [ "$now" = "$expected" ]; then
    echo "ok   $what ($took ms): $(tr -d '\r' < "$work/err")"
  else
    fail "$what: status $status, $said lines: $(cat "$work/err"), folder: $now, wanted $expected"
  fi
}

check "install, liblist.gam held 300 ms" install plain 300 0 0 done
check "uninstall, liblist.gam held 300 ms" uninstall installed 300 0 0 done
check "install, liblist.gam held 5 s" install plain 5000 1 1 unchanged
check "uninstall, liblist.gam held 5 s" uninstall installed 5000 1 1 unchanged
# double_click DIR PROGRAM [ARG]: runs PROGRAM in DIR with a console of its
# own, as Explorer does (ARG: a folder dropped onto it); sets status and
# took (ms).
double_click() {
  local began=$(date +%s%N)
  timeout 60 "${wine[@]}" start /d "Z:${1//\//\\}" /wait /unix "$exe/$2.exe" ${3:+"$3"} >/dev/null 2>&1
  status=$?
  took=$(( ($(date +%s%N) - began) / 1000000 ))
}

# timed WHAT WANT STATUS LEAST MOST: STATUS and took within LEAST..MOST ms.
timed() {
  if [ "$status" = "$2" ] && [ "$took" -ge "$3" ] && [ "$took" -le "$4" ]; then
    echo "ok   $1 (status $status, $took ms)"
  else
    fail "$1: status $status after $took ms, wanted $2 within $3..$4 ms"
  fi
}

setup plain
double_click "$mod" install
timed "double-clicked install shows its outcome for about 3 s" 0 2500 8000
[ -f "$mod/liblist_tv_backup.gam" ] || fail "double-clicked install did not switch"
double_click "$work" uninstall "Z:${mod//\//\\}"
timed "the mod folder dropped onto uninstall: switched, shown for about 3 s" 0 2500 8000
[ -f "$mod/liblist_tv_backup.gam" ] && fail "the dropped folder was not switched back"
double_click "$mod" uninstall --bad
timed "double-clicked with an argument, shown for about 10 s" 1 9000 20000
# A second run while the first one's window is still open is not held up.
double_click "$mod" install &
sleep 1.5
began=$(date +%s%N)
(cd "$mod" && "${wine[@]}" "$exe/uninstall.exe") >"$work/out" 2>&1
status=$? took=$(( ($(date +%s%N) - began) / 1000000 ))
wait
timed "a run beside an open window is not held up; from the test's console it is silent and quick" 0 0 2000
[ -s "$work/out" ] && fail "it printed: $(cat "$work/out")"
exit "$failed"
