#!/bin/bash
# mutate.sh [TEST_REGEX]: for developers, not part of the test run.
#
# Applies each mutation of tests/mutations.txt alone to a clean copy of the
# source (the last commit), builds the native programs there and runs the
# native tests (those matching TEST_REGEX, by default all of them).  Prints
# "killed" or "SURVIVED" for each, and the rate.  A mutation that does not
# apply (the code moved) is reported as such: fix its line.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git -C "$root" archive HEAD | tar -x -C "$work" || exit 2
cd "$work" || exit 2
cmake --preset native >/dev/null && cmake --build --preset native >/dev/null || { echo "clean copy does not build"; exit 2; }
killed=0 total=0
while IFS=$'\t' read -r file expression what; do
  case $file in '#'* | '') continue ;; esac
  cp "$file" "$work/original"
  sed -i "$expression" "$file"
  if cmp -s "$file" "$work/original"; then
    echo "NOT APPLIED  $file: $what"
  else
    total=$((total + 1))
    if ! cmake --build --preset native >/dev/null 2>&1; then
      result="killed (does not build)"
    elif ctest --preset native ${1:+-R "$1"} >/dev/null 2>&1; then
      result=SURVIVED
    else
      result=killed
    fi
    [ "$result" != SURVIVED ] && killed=$((killed + 1))
    echo "$result  $file: $what"
  fi
  cp "$work/original" "$file"
done < "$root/tests/mutations.txt"
echo "killed $killed of $total mutations ($((total ? 100 * killed / total : 0)) %)"
