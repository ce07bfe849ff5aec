#!/bin/bash
# inject PATH SYSCALLS ERRNO N COMMAND...
# Runs COMMAND with the Nth call of each of SYSCALLS (comma-separated) on
# PATH (by name or by an open descriptor) failing with ERRNO, and exits with
# COMMAND's status; exits 99 when no call was failed, so that a case whose
# fault is never reached cannot pass.  strace's note that PATH resolved to a
# full name is dropped, so that only the program's own output remains.
path=$1 call=$2 error=$3 when=$4
shift 4
notes=$(mktemp) trace=$(mktemp)
strace -f -o "$trace" -P "$path" -P "$PWD/$path" -e trace="$call" \
  -e inject="$call:error=$error:when=$when" "$@" 2>"$notes"
status=$?
grep -v '^strace: Requested path' "$notes" >&2
grep -q INJECTED "$trace" || { echo "inject: no $call on $path was failed" >&2; status=99; }
rm -f "$notes" "$trace"
exit "$status"
