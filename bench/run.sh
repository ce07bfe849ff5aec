#!/bin/bash
# Times the programs on a typical liblist.gam and on large ones, against cp
# of the same file and against a copy that is flushed to disk (dd
# conv=fsync; the programs flush what they write), in the same run, and
# prints medians and ratios.
# Usage: bench/run.sh [PROGRAM_DIR] [RUNS]      (defaults: build/bin, 31)
#
# Each line gives the median time of one program run, then each baseline's
# median and the ratio "x N": how many times as long as that copy of the
# same file the run took.  For the typical file both sides are mostly the
# start of a process, so a ratio near 1 is all it can show; the large
# files also show the cost per byte of a run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
usage() { echo "usage: bench/run.sh [PROGRAM_DIR] [RUNS]: $1" >&2; exit 2; }
dir=${1:-$here/build/bin}
runs=${2:-31}
[ -d "$dir" ] || usage "no folder $dir (build the programs first)"
build=$(cd "$dir" && pwd)
[ -x "$build/install" ] && [ -x "$build/uninstall" ] ||
  usage "$build holds no install and uninstall programs to run here (the .exe programs of a Windows build cannot be timed on this system)"
[[ $runs =~ ^[1-9][0-9]*$ ]] || usage "RUNS must be a whole number from 1 on, not '$runs'"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s%N; }

# median of the numbers on standard input
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# A file of about $1 KiB: a plain Firearms file with comment lines added at
# its end (the tail that install copies) up to the size.
make_file() {
  local kib=$1 out=$2
  cp "$here/examples/firearms/liblist.gam" "$out"
  local line="// padding line to make the description file larger than any real one"
  local count=$(( kib * 1024 / (${#line} + 1) ))
  yes "$line" | head -n "$count" >> "$out" || true
}

# time_program MODE FILE: nanoseconds of one run in a folder that holds FILE
# as liblist.gam, set up again before every run (not timed).  MODE is
# install, restore (uninstall in an installed folder) or rebuild (uninstall
# in a plain one).
time_program() {
  local mode=$1 file=$2 dir="$work/mod" program=uninstall
  rm -rf "$dir" && mkdir "$dir" && cp "$file" "$dir/liblist.gam"
  cp -R "$here/examples/firearms/tav_rel" "$here/examples/firearms/tavrel" "$dir/"
  [ "$mode" = install ] && program=install
  if [ "$mode" = restore ]; then (cd "$dir" && "$build/install"); fi
  local start end
  start=$(now)
  (cd "$dir" && "$build/$program")
  end=$(now)
  echo $(( end - start ))
}

# time_copy cp|dd FILE: nanoseconds of one copy of FILE into a new folder.
time_copy() {
  local how=$1 file=$2 dir="$work/mod"
  rm -rf "$dir" && mkdir "$dir"
  local start end
  start=$(now)
  if [ "$how" = cp ]; then
    cp "$file" "$dir/copy.gam"
  else
    dd if="$file" of="$dir/copy.gam" bs=64k conv=fsync status=none
  fi
  end=$(now)
  echo $(( end - start ))
}

measure() {
  local label=$1 program=$2 file=$3 p c d
  for _ in $(seq "$runs"); do time_program "$program" "$file"; done | median > "$work/p"
  for _ in $(seq "$runs"); do time_copy cp "$file"; done | median > "$work/c"
  for _ in $(seq "$runs"); do time_copy dd "$file"; done | median > "$work/d"
  p=$(cat "$work/p") c=$(cat "$work/c") d=$(cat "$work/d")
  awk -v l="$label" -v s="$(stat -c %s "$file")" -v p="$p" -v c="$c" -v d="$d" 'BEGIN {
    printf "%-20s %8d bytes %8.3f ms | cp %7.3f ms x%5.2f | dd+fsync %7.3f ms x%5.2f",
           l, s, p / 1e6, c / 1e6, p / c, d / 1e6, p / d
    # Per byte only where the bytes, not the start of a process, dominate.
    if (s >= 65536) printf " | %5.1f ns/byte", p / s
    printf "\n" }'
}

cp "$here/examples/firearms/liblist.gam" "$work/typical.gam"
for kib in 256 512 1024; do make_file "$kib" "$work/big$kib.gam"; done

echo "median of $runs runs each; the folder is set up again before every run"
for mode in install restore rebuild; do
  measure "$mode typical" "$mode" "$work/typical.gam"
  for kib in 256 512 1024; do
    measure "$mode $kib KiB" "$mode" "$work/big$kib.gam"
  done
done
