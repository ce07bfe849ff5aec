#!/bin/bash
# race_test.sh ROUNDS INSTALL UNINSTALL
#
# Starts runs of the programs together in one mod folder, ROUNDS times for
# each overlap below, and checks that every run succeeds and that every
# round leaves the folder, whole, as the golden cases' folders say one of
# the orders of the same runs, one after another, leaves it.  INSTALL and
# UNINSTALL are the commands that run the programs (an emulator and its
# arguments in front where needed).  A file-size and a time limit turn a run
# that writes without end, or blocks, into a failure.
set -u
rounds=$1
read -ra install <<<"$2"
read -ra uninstall <<<"$3"
source "$(dirname "$0")/lib.sh"
[[ $2 = *.exe ]] && crlf=1  # the Windows programs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ulimit -f 20000

# overlap FROM ENDS PROGRAM...: the PROGRAMs started together in a folder
# laid out as the case folder FROM; each round must end as one of the case
# folders ENDS.
overlap() {
  local from=$1 end round program pid bad= now
  local -a ends=() pids
  for end in $2; do ends+=("$(golden "$cases/$end")"); done
  shift 2
  for ((round = 1; round <= rounds; round++)); do
    setup "$work/mod" "$cases/$from"
    pids=()
    for program in "$@"; do program=$program[@]; (cd "$work/mod" && within 60 "${!program}") & pids+=($!); done
    for pid in "${pids[@]}"; do wait "$pid" || { echo "round $round: a run failed with status $?"; bad=1; }; done
    now=$(state "$work/mod")
    one_of "$now" "${ends[@]}" || { echo "round $round: the folder holds"$'\n'"$now"; bad=1; }
    [ -z "$bad" ] || break
  done
  if [ -z "$bad" ]; then echo "ok   $*, together in $from: $rounds rounds, each as one order of them leaves it"
  else fail "$*, together in $from"; fi
}

overlap install_firearms/before "install_firearms/before install_firearms/after" install uninstall
overlap rebuild_firearms/before rebuild_firearms/after uninstall uninstall
overlap install_firearms/before "install_firearms/before install_firearms/after" install install uninstall
exit "$failed"
