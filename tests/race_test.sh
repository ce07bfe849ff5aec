#!/bin/bash
# race_test.sh ROUNDS INSTALL UNINSTALL EXAMPLES_DIR
#
# Starts runs of the programs together in one mod folder, ROUNDS times for
# each overlap below, and checks that every round leaves the folder exactly
# as one of the sequential orders of the same runs leaves it, and that every
# run succeeds.  INSTALL and UNINSTALL are the commands that run the programs
# (an emulator and its arguments in front where needed).  A file-size and a
# time limit turn a run that writes without end into a failure.
set -u
rounds=$1
read -ra install <<<"$2"
read -ra uninstall <<<"$3"
examples=$(cd "$4" && pwd)
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ulimit -f 20000

# start PROGRAM DIR: runs PROGRAM in DIR in the background.
start() {
  local -n command=$1
  (cd "$2" && exec timeout 60 "${command[@]}") &
}

# setup KIND DIR: a plain Firearms folder, or one whose liblist.gam still
# names the bot and has no backup (for a rebuild).
setup() {
  rm -rf "$2" && mkdir "$2" && cp "$examples/firearms/liblist.gam" "$2/" && library "$2"
  if [ "$1" = rebuild ]; then
    start install "$2" && wait $! && rm "$2/liblist_tv_backup.gam"
  fi
}

# overlap KIND PROGRAM...: the runs started together, against the states of
# every order in which they could have run one after another.
overlap() {
  local kind=$1 order program round pid bad=0
  shift
  local -a allowed=()
  for order in $(orders "$@"); do
    setup "$kind" "$work/seq"
    for program in ${order//,/ }; do start "$program" "$work/seq" && wait $!; done
    allowed+=("$(state "$work/seq")")
  done
  for ((round = 1; round <= rounds; round++)); do
    setup "$kind" "$work/mod"
    local -a pids=()
    for program in "$@"; do start "$program" "$work/mod" && pids+=($!); done
    for pid in "${pids[@]}"; do wait "$pid" || { echo "round $round: a run failed with status $?"; bad=1; }; done
    local now
    now=$(state "$work/mod")
    if ! printf '%s\n' "${allowed[@]}" | grep -qxF -- "$now"; then
      echo "round $round: the folder holds $now"
      bad=1
    fi
    [ "$bad" = 0 ] || break
  done
  if [ "$bad" = 0 ]; then
    echo "ok   $kind, $* together: $rounds rounds, each as a sequential order leaves it"
  else
    fail "$kind, $* together"
  fi
}

# orders PROGRAM...: every order of the programs, one per line, comma-joined.
orders() {
  if [ $# -le 1 ]; then echo "$*"; return; fi
  local i rest tail
  for ((i = 1; i <= $#; i++)); do
    rest=("${@:1:i-1}" "${@:i+1}")
    for tail in $(orders "${rest[@]}"); do echo "${!i},$tail"; done
  done | sort -u
}

overlap plain install uninstall
overlap rebuild uninstall uninstall
overlap plain install install uninstall
exit "$failed"
