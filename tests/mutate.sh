#!/bin/bash
# mutate.sh [TEST_REGEX]: for developers, not part of the test run.  Applies
# each mutation of tests/mutations.txt alone to a clean copy of the last
# commit, builds the native programs there, runs the native tests (those
# matching TEST_REGEX, by default all), and prints "killed" or "SURVIVED"
# for each and the rate.  "NOT APPLIED" means the code moved: fix its line.
set -u
root=$(cd "$(dirname "$0")/.." && pwd) work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git -C "$root" archive HEAD | tar -x -C "$work" && cd "$work" || exit 2
cmake --preset native >/dev/null && cmake --build --preset native >/dev/null || exit 2
killed=0 total=0
while IFS=$'\t' read -r file expression what; do
  case $file in '#'* | '') continue ;; esac
  cp "$file" "$work/original" && sed -i "$expression" "$file"
  if cmp -s "$file" "$work/original"; then
    result="NOT APPLIED"
  elif cmake --build --preset native >/dev/null 2>&1 && ctest --preset native ${1:+-R "$1"} >/dev/null 2>&1; then
    result=SURVIVED total=$((total + 1))
  else
    result=killed total=$((total + 1)) killed=$((killed + 1))
  fi
  echo "$result  $file: $what"
  cp "$work/original" "$file"
done < "$work/tests/mutations.txt"
echo "killed $killed of $total mutations ($((total ? 100 * killed / total : 0)) %)"
