#!/bin/bash
# windows_lock_test.sh WINE PROGRAM_DIR EXAMPLES_DIR
#
# Windows programs against a file held open with no sharing by another
# process (tests/hold_file.cc, run under the same Wine): a hold of about
# 300 ms is waited out and both programs switch; a hold of 5 s makes both
# fail with status 1 and one line on standard error, the folder as it was.
set -u
read -ra wine <<<"$1"
exe=$2
examples=$(cd "$3" && pwd)
work=$(mktemp -d)
mod=$work/mod
trap 'wait; rm -rf "$work"' EXIT
ulimit -f 20000
failed=0

# hold MS: holds liblist.gam in the mod folder for MS milliseconds, in the
# background; returns once it is held.
hold() {
  (cd "$mod" && exec "${wine[@]}" "$exe/hold_file.exe" liblist.gam "$1") >"$work/held" &
  for _ in $(seq 400); do grep -q held "$work/held" && return 0; sleep 0.025; done
  echo "FAIL the helper never held liblist.gam"; exit 1
}

# setup plain|installed
setup() {
  rm -rf "$mod" && mkdir "$mod" && cp "$examples/firearms/liblist.gam" "$mod/"
  [ "$1" = installed ] && (cd "$mod" && "${wine[@]}" "$exe/install.exe")
}

state() { (cd "$mod" && cksum -- * | paste -sd ' '); }

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
  expected=$(state)
  setup "$start"
  hold "$ms"
  began=$(date +%s%N)
  (cd "$mod" && timeout 60 "${wine[@]}" "$exe/$program.exe") >"$work/out" 2>"$work/err"
  status=$?
  took=$(( ($(date +%s%N) - began) / 1000000 ))
  wait
  local said=$(wc -l < "$work/err") now=$(state)
  if [ "$status" = "$want" ] && [ "$said" = "$lines" ] && [ ! -s "$work/out" ] && [ "$now" = "$expected" ]; then
    echo "ok   $what ($took ms): $(tr -d '\r' < "$work/err")"
  else
    echo "FAIL $what: status $status, $said lines: $(cat "$work/err"), folder: $now, wanted $expected"
    failed=1
  fi
}

check "install, liblist.gam held 300 ms" install plain 300 0 0 done
check "uninstall, liblist.gam held 300 ms" uninstall installed 300 0 0 done
check "install, liblist.gam held 5 s" install plain 5000 1 1 unchanged
check "uninstall, liblist.gam held 5 s" uninstall installed 5000 1 1 unchanged
exit "$failed"
