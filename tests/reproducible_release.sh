#!/bin/bash
# reproducible_release.sh SOURCE_DIR
#
# Builds the release twice, from two clean clones of SOURCE_DIR's last
# commit in folders of different names and depths, and checks that the
# archives and SHA256SUMS are the same bytes, and that SHA256SUMS matches
# them.  Exits 77 (skipped) when SOURCE_DIR is not a git checkout.
set -u
src=$(cd "$1" && pwd)
source "$(dirname "$0")/lib.sh"
git -C "$src" rev-parse --verify -q HEAD >/dev/null || skip "skipped: $src is not a git checkout"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# build FOLDER: a clean clone in FOLDER, configured and released.
build() {
  mkdir -p "$(dirname "$1")" && within 120 git clone -q "$src" "$1" &&
    within 300 cmake -S "$1" -B "$1/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$1.log" 2>&1 &&
    within 900 cmake --build "$1/build" --target release >>"$1.log" 2>&1 ||
    { echo "FAIL the release build in $1:"; tail -20 "$1.log"; exit 1; }
}

start=$(date +%s)
build "$work/a"
build "$work/second/clone-b"
echo "two release builds of $(git -C "$src" rev-parse --short HEAD) in $(( $(date +%s) - start )) s"
one=$work/a/build/release two=$work/second/clone-b/build/release
[ -s "$one/SHA256SUMS" ] || fail "no SHA256SUMS"
diff -r "$one" "$two" || fail "the two release builds differ"
(cd "$one" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[ "$failed" = 1 ] || echo "ok   identical: $(ls "$one" | paste -sd ' ')"
exit "$failed"
