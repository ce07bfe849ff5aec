#!/bin/bash
# windows_lock_test.sh WINE PROGRAM_DIR
#
# Windows programs against a file held open with no sharing by another
# process (tests/hold_file.cc, run under the same Wine): a hold of about
# 300 ms is waited out and both programs switch; a hold of 5 s makes both
# fail with status 1 and one line on standard error, the folder as it was.
# Then a double-click: a program started with a console of its own
# ("start /wait") keeps it open about 3 s after a success and about 10 s
# after a failure, without holding the folder lock meanwhile; run from the
# test's own console, it exits at once.  (What it writes to that console
# cannot be read back under Wine.)  The folders come from the golden case
# install_firearms.
set -u
read -ra wine <<<"$1"
exe=$2
source "$(dirname "$0")/lib.sh"
crlf=1
fa=$cases/install_firearms
work=$(mktemp -d)
mod=$work/mod
trap 'wait; rm -rf "$work"' EXIT
ulimit -f 20000

# clock DIR COMMAND...: runs COMMAND in DIR (within 60 s); sets status and took (ms).
clock() {
  local began=$(date +%s%N)
  (cd "$1" && within 60 "${@:2}")
  status=$? took=$(( ($(date +%s%N) - began) / 1000000 ))
}

# await COMMAND...: waits up to 10 s for COMMAND to succeed: whether it did.
await() { for _ in $(seq 400); do "$@" && return 0; sleep 0.025; done; return 1; }

# hold MS: holds liblist.gam in the mod folder for MS milliseconds, in the
# background; returns once it is held.
hold() {
  (cd "$mod" && within 60 "${wine[@]}" "$exe/hold_file.exe" liblist.gam "$1") >"$work/held" &
  await grep -q held "$work/held" || { echo "FAIL the helper never held liblist.gam"; exit 1; }
}

# held WHAT PROGRAM FROM MS STATUS END: runs PROGRAM in a folder laid out as
# FROM, its liblist.gam held for MS; wants STATUS, as many lines on standard
# error (0 or 1), none on standard output, and the folder as END.
held() {
  setup "$mod" "$fa/$3"
  hold "$4"
  clock "$mod" "${wine[@]}" "$exe/$2.exe" >"$work/out" 2>"$work/err"
  wait
  local said=$(wc -l <"$work/err") now=$(state "$mod")
  if [ "$status $said" = "$5 $5" ] && [ ! -s "$work/out" ] && [ "$now" = "$(golden "$fa/$6")" ]; then echo "ok   $1 ($took ms): $(tr -d '\r' <"$work/err")"
  else fail "$1: status $status, $said lines: $(cat "$work/err"), folder: $now, wanted $6"; fi
}

held "install, liblist.gam held 300 ms" install before 300 0 after
held "uninstall, liblist.gam held 300 ms" uninstall after 300 0 before
held "install, liblist.gam held 5 s" install before 5000 1 before
held "uninstall, liblist.gam held 5 s" uninstall after 5000 1 after

# double_click DIR PROGRAM [ARG]: runs PROGRAM in DIR with a console of its
# own, as Explorer does (ARG: a folder dropped onto it).
double_click() { clock "$1" "${wine[@]}" start /d "Z:${1//\//\\}" /wait /unix "$exe/$2.exe" ${3:+"$3"} >/dev/null 2>&1; }

# timed WHAT WANT LEAST MOST: status WANT, and took within LEAST..MOST ms.
timed() {
  if [ "$status" = "$2" ] && [ "$took" -ge "$3" ] && [ "$took" -le "$4" ]; then echo "ok   $1 (status $status, $took ms)"
  else fail "$1: status $status after $took ms, wanted $2 within $3..$4 ms"; fi
}

setup "$mod" "$fa/before"
double_click "$mod" install
timed "double-clicked install shows its outcome for about 3 s" 0 2500 8000
[ -f "$mod/liblist_tv_backup.gam" ] || fail "double-clicked install did not switch"
double_click "$work" uninstall "Z:${mod//\//\\}"
timed "the mod folder dropped onto uninstall: switched, shown for about 3 s" 0 2500 8000
[ -f "$mod/liblist_tv_backup.gam" ] && fail "the dropped folder was not switched back"
double_click "$mod" uninstall --bad
timed "double-clicked with an argument, shown for about 10 s" 1 9000 20000
# A second run, started as soon as the first has switched, is not held up
# by the first one's open window: held up, it would wait out those 3 s
# (a sleep, however fast the machine), so 2.5 s leaves a slow machine
# room; from the test's console it is silent and shows no window itself.
double_click "$mod" install &
await [ -f "$mod/liblist_tv_backup.gam" ]
clock "$mod" "${wine[@]}" "$exe/uninstall.exe" >"$work/out" 2>&1
wait
timed "a run beside an open window is not held up; from the test's console it is silent and quick" 0 0 2500
[ -s "$work/out" ] && fail "it printed: $(cat "$work/out")"
exit "$failed"
