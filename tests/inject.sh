#!/bin/bash
# inject PATH SYSCALL ERRNO N COMMAND...
# Runs COMMAND with the Nth call of SYSCALL on PATH (by name or by an open
# descriptor) failing with ERRNO, and
# exits with COMMAND's status.  strace's note that PATH resolved to a full
# name is dropped, so that only the program's own output remains.
path=$1 call=$2 error=$3 when=$4
shift 4
notes=$(mktemp)
strace -f -o /dev/null -P "$path" -P "$PWD/$path" -e trace="$call" \
  -e inject="$call:error=$error:when=$when" "$@" 2>"$notes"
status=$?
grep -v '^strace: Requested path' "$notes" >&2
rm -f "$notes"
exit "$status"
