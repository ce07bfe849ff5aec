#!/bin/sh
# make_readme.sh GUIDE PLATFORM VERSION OUT
#
# Writes OUT, the read-me of a release archive, from the user guide GUIDE
# (Markdown) for PLATFORM (windows or linux): the title names VERSION, the
# lines between "<!-- windows -->" or "<!-- linux -->" and "<!-- end -->"
# are kept for that platform only (with one blank line where a block is
# dropped), the Markdown backticks are dropped, and the Windows read-me
# gets CR LF line ends.
set -eu
export LC_ALL=C
guide=$1 platform=$2 version=$3 out=$4

awk -v platform="$platform" -v version="$version" '
  BEGIN { keep = 1 }
  /^<!-- (windows|linux) -->$/ { keep = ($2 == platform); next }
  $0 == "<!-- end -->" {
    if (!keep && last_blank) skip_blank = 1
    keep = 1
    next
  }
  skip_blank && $0 == "" { skip_blank = 0; next }
  NR == 1 {
    title = "Tavrel switch " version ": install and uninstall"
    underline = title
    gsub(/./, "=", underline)
    print title
    print underline
    next
  }
  NR > 2 && keep {
    gsub(/`/, "")
    print
    last_blank = ($0 == "")
    skip_blank = 0
  }
' "$guide" > "$out.tmp"
if [ "$platform" = windows ]; then
  sed 's/$/\r/' "$out.tmp" > "$out"
  rm "$out.tmp"
else
  mv "$out.tmp" "$out"
fi
